// SPDX-License-Identifier: GPL-3.0-or-later
// The decisions and texts of the account dialogs, apart from the widgets so
// that they are tested on their own.
#include <ctime>
#include <string>

#include "dialogs/dav_dialogs.h"
#include "support/local_dates.h"
#include "support/strings.h"
#include "sync/dav_discover.h"
#include "sync/dav_http.h"
#include "sync/dav_xml.h"
#include "sync/dav_sync.h"

const int kDavSyncMinutes[6] = {5, 15, 30, 60, 240, 0};

int dav_sync_minutes_index(int minutes) {
  for (int i = 0; i < 6; i++)
    if (kDavSyncMinutes[i] == minutes) return i;
  return 1;
}

DavAddNext dav_add_next(int rc, const std::string& fingerprint, size_t collections) {
  if (rc == 0) return collections > 0 ? DAV_NEXT_CHOOSE : DAV_NEXT_NOTHING_FOUND;
  if (rc == DAV_ERR_CANCELLED) return DAV_NEXT_FORM;
  // Without a fingerprint there is nothing the user could check: a plain
  // TLS failure.
  if (rc == DAV_ERR_TLS_UNTRUSTED && !fingerprint.empty()) return DAV_NEXT_ASK_TRUST;
  return DAV_NEXT_ERROR;
}

StrId dav_collection_label(const DavCollection& col) {
  if (col.kind == DAV_KIND_ADDRESSBOOK) return STR_DAV_KIND_CONTACTS;
  bool events = col.components & DAV_COMP_EVENT, tasks = col.components & DAV_COMP_TODO;
  if (events && tasks) return STR_DAV_KIND_EVENTS_TASKS;
  return tasks ? STR_DAV_KIND_TASKS : STR_DAV_KIND_EVENTS;
}

std::string dav_summary_text(const DavSyncSummary& s, size_t max_names) {
  std::string text =
      ui_format(STR_DAV_SYNC_SUMMARY, s.pulled, s.pushed, s.deleted_here, s.deleted_there, s.conflicts);
  if (s.names.empty()) return text;
  std::string names;
  for (size_t i = 0; i < s.names.size(); i++) {
    if (i == max_names) {
      names += "\n…";
      break;
    }
    if (i) names += "\n";
    names += s.names[i];
  }
  return text + "\n\n" + ui_format(STR_DAV_SYNC_CONFLICTS, names.c_str());
}

std::string dav_failure_text(const DavSyncSummary& s, int result) {
  if (!s.message.empty()) return s.message;
  if (result == SYNC_REMOTE_CHANGED) return ui_string_line(dav_message_id(DAV_ERR_PRECONDITION));
  return ui_string_line(result == -1 ? dav_message_id(DAV_ERR_CANCELLED) : STR_DAV_SYNC_LOCAL_FAILED);
}

std::string dav_last_sync_text(int64_t when) {
  std::string text = when <= 0 ? std::string() : shown_date_time(when, DATE_SHORT);
  return text.empty() ? ui_string_line(STR_DAV_NEVER_SYNCED) : text;
}
