// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes, the yes/no question, the data-timer notice, the copyable
// text box, and opening addresses and files with the desktop's handler.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "support/strings.h"

// Error (show_message_text) and information (show_info_text) boxes showing
// the text literally; the window title is the title string; one OK button
// (STR_OK).
void show_message_text(StrId title_id, const std::string& text);
void show_info_text(StrId title_id, const std::string& text);
// The same boxes for a message string formatted with the arguments.
template <typename... Args>
void show_message(StrId title_id, StrId message_id, Args... args) {
  show_message_text(title_id, ui_format(message_id, args...));
}
template <typename... Args>
void show_info(StrId title_id, StrId message_id, Args... args) {
  show_info_text(title_id, ui_format(message_id, args...));
}
// A question whose safe answer is the default: the cancel button comes
// first and has the focus and Return, the yes button (GTK_RESPONSE_YES) must
// be chosen and is styled as destructive when it destroys something. The
// secondary text can be selected (a fingerprint to compare); `extra` (or
// nullptr), a widget the caller holds a reference to, goes below the texts
// and is taken out again before this returns, to be read. True exactly for
// yes.
struct SafeQuestion {
  GtkMessageType type = GTK_MESSAGE_QUESTION;
  StrId title_id = STR_APP_NAME;
  std::string primary, secondary;
  StrId cancel_id = STR_CANCEL, yes_id = STR_OK;
  bool destructive = false;
  bool selectable = false;
  GtkWidget* extra = nullptr;
};
bool ask_safe_default(const SafeQuestion& q);
// That question before a destructive act: primary string formatted with
// `arg` (nullptr: shown as it is), secondary string unless STR_NONE, title
// STR_APP_NAME, the no button then the yes button in the destructive style.
bool ask_yes_no(StrId primary_id, const char* arg, StrId secondary_id, StrId no_id, StrId yes_id);
// The same with a complete primary text (and a secondary id or STR_NONE).
bool ask_yes_no_text(const std::string& primary, StrId no_id, StrId yes_id, StrId secondary_id = STR_NONE);
// Asks before text leaves the computer, showing that text read-only in a
// scrolled monospace view: primary and secondary strings, Cancel then the
// yes button (the default). True exactly for yes.
bool ask_showing_text(StrId primary_id, StrId secondary_id, const std::string& text, StrId yes_id);
// The information box of the data timer (STR_NEW_REMINDERS_DUE, title
// STR_APP_NAME).
void show_data_notice();
// The text in large bold type with a copy button (STR_COPY) that puts it on
// the clipboard each time (cleared again after 30 seconds when it still
// holds the text: what is shown here is a password), and a close button
// (STR_CLOSE).
void show_copyable(StrId title_id, const char* text);

// Starts "xdg-open" with the text as its only argument, asynchronously, in
// "/", output discarded. Returns 0, or -1 when it could not be started (an
// empty text, or a text starting with "-" that the opener would take as an
// option, is refused).
int open_address(const char* text);
