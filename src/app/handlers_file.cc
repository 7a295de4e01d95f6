// SPDX-License-Identifier: GPL-3.0-or-later
// File commands: imports and exports of the selected tag through file
// choosers, the repository export and save as. Files dropped on the tag tree
// are file_drop.cc, the help commands handlers_help.cc, the work in slices
// behind the progress dialog sliced_job.h.
//
// An import reads and parses its files on the progress dialog's worker (no
// model state there) and stores the items on the main thread in slices of a
// few tens of milliseconds inside one batch, so the window keeps drawing and
// a cancel takes everything back: one import is one undo step or nothing.
// An export builds its text the same way and writes the file on the worker;
// a cancelled export writes nothing.
#include "app/file_commands.h"

#include <glib/gstdio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/commands.h"
#include "app/handlers.h"
#include "app/main_window.h"
#include "app/sliced_job.h"
#include "app/window.h"
#include "crypto/wipe.h"
#include "dialogs/file_chooser.h"
#include "dialogs/message.h"
#include "dialogs/password_prompt.h"
#include "dialogs/progress.h"
#include "interchange/import_plan.h"
#include "interchange/interchange.h"
#include "model/app_core.h"
#include "model/item.h"
#include "model/model.h"
#include "model/tag.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

// A file name as the user can read it.
std::string display_name(const std::string& path) {
  gchar* base = g_path_get_basename(path.c_str());
  gchar* shown = g_filename_display_name(base);
  std::string out = shown;
  g_free(shown);
  g_free(base);
  return out;
}

// The selected real tag and its repository; false on a fixed row.
bool selected_tag(int64_t* tag, int* repo) {
  int r = model_selected_repo();
  if (r < 0) return false;
  *tag = model().view;
  *repo = r;
  return true;
}

std::string repo_name(int repo) {
  return repo >= 0 && static_cast<size_t>(repo) < repo_table().size() ? repo_table()[repo].name : std::string();
}

// ---------------------------------------------------------------------------
// Imports

struct ImportJob {
  ImportKind kind = IMPORT_NOTES;
  std::vector<std::string> paths;
  int64_t tag = -1;
  int repo = -1;
  ImportPlan plan;
  std::vector<std::string> unreadable;
  std::unique_ptr<ItemBatch> batch;
  ImportReport report;
  size_t next = 0;
};

bool nothing_to_store(const ImportJob& job) {
  return job.plan.entries.empty() || (job.kind == IMPORT_ACCOUNTS && job.plan.malformed);
}

const char* import_log_name(ImportKind kind) {
  switch (kind) {
    case IMPORT_NOTES: return "on_import_notes";
    case IMPORT_CALENDAR: return "on_import_calendar";
    case IMPORT_CONTACTS: return "on_import_contacts";
    case IMPORT_ACCOUNTS: return "on_import_accounts";
  }
  return "import";
}

StrId import_title(ImportKind kind) {
  static const StrId titles[] = {STR_IMPORT_NOTES, STR_IMPORT_CALENDAR, STR_IMPORT_CONTACTS, STR_IMPORT_KEYS};
  return titles[kind];
}

}  // namespace

int import_files_into(MainWindow* w, ImportKind kind, const std::vector<std::string>& paths, int64_t tag) {
  const Tag* t = tag > 0 ? tag_get(tag) : nullptr;
  if (!t || t->repo < 0 || paths.empty()) return -1;
  StrId title = import_title(kind);
  ImportJob job;
  job.kind = kind;
  job.paths = paths;
  job.tag = tag;
  job.repo = t->repo;
  SlicedJob sliced;
  sliced.prepare = [&] {
    for (const std::string& path : job.paths) {
      if (progress_cancelled()) return false;
      if (import_plan_read(job.kind, path.c_str(), &job.plan) != 0) job.unreadable.push_back(path);
    }
    return !nothing_to_store(job);
  };
  sliced.slice = [&](gint64 until) {
    if (!job.batch) job.batch = std::make_unique<ItemBatch>(job.repo);
    size_t n = job.plan.entries.size();
    while (job.next < n && job.batch->status() == 0) {
      import_plan_store(job.plan, job.next, job.next + 1, job.batch.get(), job.tag, &job.report);
      job.next++;
      if (g_get_monotonic_time() >= until) break;
    }
    sliced.percent = static_cast<int>(job.next * 100 / n);
    // What the slice stored goes to the file now, not all at the commit.
    job.batch->write_out();
    return job.next >= n || job.batch->status() != 0;
  };
  int result = -1;
  {
    RefreshPause pause(w);
    if (run_sliced(title, STR_IMPORT, &sliced) != 0) {
      log_message(LOG_ERROR, "%s: no progress dialog", import_log_name(kind));
      return -1;
    }
    if (sliced.cancelled) {
      // The batch not committed takes back what was stored.
      job.batch.reset();
      log_message(LOG_INFO, "%s: cancelled", import_log_name(kind));
      return -1;
    }
    for (const std::string& path : job.unreadable)
      show_message_text(title, ui_format(STR_IMPORT_UNREADABLE, display_name(path).c_str()));
    if (job.kind == IMPORT_ACCOUNTS && job.plan.malformed) {
      // A file broken half-way would leave the user guessing which accounts
      // came in: all or nothing.
      show_message_text(title, ui_format(STR_IMPORT_MALFORMED, display_name(paths.front()).c_str()));
      return -1;
    }
    if (nothing_to_store(job)) {
      if (job.unreadable.size() < paths.size()) {
        std::string names;
        for (const std::string& path : paths) names += (names.empty() ? "" : ", ") + display_name(path);
        show_message_text(title, ui_format(STR_IMPORT_NOTHING, names.c_str()));
      }
      return -1;
    }
    if (!job.batch || job.batch->status() != 0 || job.batch->commit() != 0) {
      job.batch.reset();
      show_message_text(title, ui_format(STR_IMPORT_NOT_STORED));
      return -1;
    }
    job.batch.reset();
    result = job.report.imported;
  }
  int skipped = job.report.skipped + job.plan.skipped;
  log_message(LOG_INFO, "%s: %d imported, %d skipped", import_log_name(kind), result, skipped);
  std::string done = skipped ? ui_format(STR_IMPORT_DONE_SKIPPED, result, skipped)
                             : ui_plural_format(STR_IMPORT_DONE, result);
  status_show(w, done.c_str());
  return result;
}

namespace {

void import_command(MainWindow* w, ImportKind kind, ChooserFilter filter, bool multiple) {
  log_message(LOG_INFO, "%s", import_log_name(kind));
  int64_t tag;
  int repo;
  if (!selected_tag(&tag, &repo)) return;
  ChooserRequest r;
  r.action = GTK_FILE_CHOOSER_ACTION_OPEN;
  r.title_id = import_title(kind);
  r.accept_id = STR_IMPORT_ACCEPT;
  r.multiple = multiple;
  r.filter = filter;
  r.folder = app_core().home;
  std::vector<std::string> paths = choose_files(r);
  if (paths.empty()) return;
  import_files_into(w, kind, paths, tag);
}

// ---------------------------------------------------------------------------
// Exports

// The user's answer to an export chooser, checked: "" when cancelled or when
// the place is refused (after saying so).
std::string export_target(const ChooserRequest& r, bool folder) {
  std::string path = choose_file(r);
  if (path.empty()) return path;
  int check = export_target_check(path, folder);
  if (check == EXPORT_TARGET_OK) return path;
  StrId id = check == EXPORT_TARGET_NO_FOLDER ? STR_EXPORT_FAILED : STR_EXPORT_REFUSED;
  show_message_text(r.title_id, ui_format(id, display_name(path).c_str()));
  return std::string();
}

// The file an export writes, from a save chooser in the home folder.
std::string export_file_target(StrId title, ChooserFilter filter, const std::string& suggested) {
  ChooserRequest r;
  r.action = GTK_FILE_CHOOSER_ACTION_SAVE;
  r.title_id = title;
  r.accept_id = STR_ACCEPT;
  r.filter = filter;
  r.folder = app_core().home;
  r.suggested = suggested;
  return export_target(r, false);
}

void export_done(MainWindow* w, StrId title, const std::string& path, int count) {
  if (count < 0) {
    show_message_text(title, ui_format(STR_EXPORT_FAILED, display_name(path).c_str()));
    return;
  }
  std::string done = ui_plural_format(STR_EXPORT_DONE, count);
  status_show(w, done.c_str());
}

// Builds the file a slice of items at a time and writes it (notes: one file
// per note into the folder). The count written, -1 when the file could not
// be written, -2 when cancelled (nothing written; notes already written
// stay).
int export_sliced(StrId title, ExportKind kind, int repo, const std::string& path) {
  std::vector<int64_t> slots = export_slots(kind, repo);
  std::string text = export_head(kind);
  size_t next = 0;
  int count = 0;
  int rc = 0;
  SlicedJob job;
  job.slice = [&](gint64 until) {
    while (next < slots.size()) {
      int64_t slot = slots[next++];
      if (kind == EXPORT_NOTES ? export_note_file(slot, path.c_str()) == 0
                               : export_append(kind, slot, count == 0, &text))
        count++;
      if (g_get_monotonic_time() >= until) break;
    }
    job.percent = slots.empty() ? 100 : static_cast<int>(next * 100 / slots.size());
    return next >= slots.size();
  };
  if (kind != EXPORT_NOTES)
    job.finish = [&] {
      text += export_tail(kind);
      rc = write_file_all(path.c_str(), text);
    };
  int ran = run_sliced(title, STR_EXPORT, &job);
  wipe(&text);  // accounts: every password in clear
  if (ran != 0 || rc != 0) return -1;
  if (job.cancelled) return -2;
  return count;
}

void export_command(MainWindow* w, const char* name, StrId title, ChooserFilter filter, const char* ext,
                    ExportKind kind) {
  log_message(LOG_INFO, "%s: %d", name, static_cast<int>(model().view));
  int64_t tag;
  int repo;
  if (!selected_tag(&tag, &repo)) return;
  std::string path = export_file_target(title, filter, note_file_name(repo_name(repo)) + ext);
  if (path.empty()) return;
  int n = export_sliced(title, kind, repo, path);
  log_message(LOG_INFO, "%s: %d written", name, n);
  if (n != -2) export_done(w, title, path, n);
}

// ---------------------------------------------------------------------------
// Repository export

struct RepoExportJob {
  const RepoEntry* entry = nullptr;
  std::string password;
  std::string path;
};

intptr_t repo_export_worker(void* p) {
  auto* job = static_cast<RepoExportJob*>(p);
  return repo_export_file(job->entry, job->password.c_str(), job->path.c_str());
}

}  // namespace

void on_import_notes(MainWindow* w, int) { import_command(w, IMPORT_NOTES, CHOOSER_TEXT, true); }
void on_import_calendar(MainWindow* w, int) { import_command(w, IMPORT_CALENDAR, CHOOSER_CALENDAR, false); }
void on_import_contacts(MainWindow* w, int) { import_command(w, IMPORT_CONTACTS, CHOOSER_CONTACTS, false); }
void on_import_accounts(MainWindow* w, int) { import_command(w, IMPORT_ACCOUNTS, CHOOSER_ACCOUNTS, false); }

void on_export_notes(MainWindow* w, int) {
  log_message(LOG_INFO, "on_export_notes: %d", static_cast<int>(model().view));
  int64_t tag;
  int repo;
  if (!selected_tag(&tag, &repo)) return;
  ChooserRequest r;
  r.action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
  r.title_id = STR_EXPORT_NOTES;
  r.accept_id = STR_SELECT;
  r.folder = app_core().repo_root;
  r.create_folders = true;
  std::string dir = export_target(r, true);
  if (dir.empty()) return;
  int n = export_sliced(STR_EXPORT_NOTES, EXPORT_NOTES, repo, dir);
  log_message(LOG_INFO, "on_export_notes: %d written", n);
  if (n != -2) export_done(w, STR_EXPORT_NOTES, dir, n);
}

void on_export_calendar(MainWindow* w, int) {
  export_command(w, "on_export_calendar", STR_EXPORT_CALENDAR, CHOOSER_CALENDAR, ".ics", EXPORT_CALENDAR);
}
void on_export_contacts(MainWindow* w, int) {
  export_command(w, "on_export_contacts", STR_EXPORT_CONTACTS, CHOOSER_CONTACTS, ".vcf", EXPORT_CONTACTS);
}
void on_export_accounts(MainWindow* w, int) {
  export_command(w, "on_export_accounts", STR_EXPORT_KEYS, CHOOSER_ACCOUNTS, ".json", EXPORT_ACCOUNTS);
}

void on_export_repo(MainWindow*, int) {
  int64_t tag = -1;
  int repo = -1;
  selected_tag(&tag, &repo);
  log_message(LOG_INFO, "on_export_repo: %d %d", static_cast<int>(model().view), repo);
  if (repo < 0 || static_cast<size_t>(repo) >= repo_table().size()) return;
  std::string path = export_file_target(STR_EXPORT_REPOSITORY, CHOOSER_REPO_FILE, note_file_name(repo_name(repo)));
  if (path.empty()) return;
  RepoExportJob job;
  if (password_prompt(STR_APP_NAME, STR_EXPORT_REPOSITORY, STR_PASSWORD_RULES_10, 10, 7, &job.password) != 0) return;
  job.entry = &repo_table()[repo];
  job.path = path;
  intptr_t rc = run_with_progress(STR_EXPORT_REPOSITORY, STR_CONTACTING_SERVER, repo_export_worker, &job, false);
  wipe(&job.password);
  if (rc != 0) show_message(STR_EXPORT_REPOSITORY, STR_MSG_EXPORT_REPO_FAILED);
}

void on_save_as(MainWindow* w, int) {
  int64_t slot = model().selected_item;
  const Item* item = item_get(slot);
  log_message(LOG_INFO, "on_save_as: %lld %d", static_cast<long long>(slot), item ? item->type : -1);
  if (!item) return;
  const char* ext = ".txt";
  ChooserFilter filter = CHOOSER_TEXT;
  if (item->type == ITEM_TASK || item->type == ITEM_EVENT) {
    ext = ".ics";
    filter = CHOOSER_CALENDAR;
  } else if (item->type == ITEM_VCARD) {
    ext = ".vcf";
    filter = CHOOSER_CONTACTS;
  }
  std::string path = export_file_target(STR_SAVE_AS, filter, note_file_name(item->title) + ext);
  if (path.empty()) return;
  // The chooser ran a main loop of its own: the item is looked up again.
  if (!item_get(slot) || save_item_as(path.c_str(), slot) != 0) {
    show_message_text(STR_SAVE_AS, ui_format(STR_EXPORT_FAILED, display_name(path).c_str()));
    return;
  }
  std::string done = ui_format(STR_SAVE_DONE, display_name(path).c_str());
  status_show(w, done.c_str());
}
