// SPDX-License-Identifier: GPL-3.0-or-later
// The schedule sections of the task and event editors: due time, start and
// end, the recurrence box and the reminder box; and the two editors' specs
// built from them.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "dialogs/editor.h"
#include "dialogs/recurrence_dialog.h"

// Reminder box: check box, count entry (3 digits), unit combo (entry i is
// unit i + 1). Entry and combo are sensitive while the box is checked.
struct ReminderBox {
  GtkWidget* check = nullptr;
  GtkWidget* count = nullptr;
  GtkWidget* unit = nullptr;
};

// The task's due time.
struct DueSection {
  GtkWidget* picker = nullptr;
};

// The event's start and end.
struct EventTimes {
  GtkWidget* start = nullptr;
  GtkWidget* end = nullptr;
  int64_t duration = 0;  // end - start; negative: end stays put
};

// The recurrence box of both: check box, frequency combo, details button
// and the rule as text for the date of the editor's start picker (the
// task's due time, the event's start).
struct RecurrenceBox {
  Editor* ed = nullptr;
  GtkWidget* check = nullptr;
  GtkWidget* freq = nullptr;         // entry i is freq i + 1
  GtkWidget* details = nullptr;      // opens recurrence_dialog
  GtkWidget* description = nullptr;  // the rule as text for the start date
  RecurrenceRule rule;               // the working rule
  // A rule from another calendar that the box cannot say: shown as text,
  // read-only, and kept as it is on save.
  std::string full_rule_text;
};

const EditorSpec& task_editor_spec();
const EditorSpec& event_editor_spec();
