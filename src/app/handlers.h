// SPDX-License-Identifier: GPL-3.0-or-later
// Command handlers, grouped by subject in handlers_*.cc. Each takes the
// window and the argument bound when its menu item was made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct MainWindow;

// Program (handlers_program.cc)
void on_quit(MainWindow* w, int);
void on_options(MainWindow* w, int);
void on_repo_manager(MainWindow* w, int);
void on_master_password(MainWindow* w, int);
void on_account(MainWindow* w, int);
void on_sync_repo(MainWindow* w, int);
void on_sync_all(MainWindow* w, int);
void on_about(MainWindow* w, int);
void on_check_update(MainWindow* w, int);
// arg 1: redo
void on_undo(MainWindow* w, int redo);
void on_redo(MainWindow* w, int);

// View (handlers_view.cc)
void on_back(MainWindow* w, int);
void on_forward(MainWindow* w, int);
void on_list_type(MainWindow* w, int type);
void on_completed(MainWindow* w, int);
void on_show_hide(MainWindow* w, int);

// Items (handlers_item.cc)
void on_create_note(MainWindow* w, int);
void on_create_task(MainWindow* w, int);
void on_create_event(MainWindow* w, int);
void on_create_vcard(MainWindow* w, int);
void on_create_key(MainWindow* w, int);
void on_item_edit(MainWindow* w, int);
void on_delete_item(MainWindow* w, int);
void on_trash(MainWindow* w, int);
void on_set_tags(MainWindow* w, int);
void on_item_history(MainWindow* w, int);
void on_search(MainWindow* w, int);

// arg: days from today, 0 = the next half hour
void on_move_due_date(MainWindow* w, int days);
void on_next_reminder(MainWindow* w, int);

// Tags (handlers_tag.cc)
void on_create_tag(MainWindow* w, int);
void on_delete_tag(MainWindow* w, int);

// Clipboard (handlers_clipboard.cc)
void on_copy_user(MainWindow* w, int);
void on_copy_password(MainWindow* w, int);
void on_copy_items(MainWindow* w, int);
void on_copy_all(MainWindow* w, int);
void on_paste(MainWindow* w, int);
void on_attach(MainWindow* w, int);
// Pastes the entries (item slots, or -t for a whole repository) into the
// tag, under the progress dialog when they are many: the count pasted, -1
// on failure, -2 when the user cancelled (nothing stored).
int paste_with_progress(int64_t tag, const std::vector<int32_t>& entries);

// Files (handlers_file.cc)
void on_import_notes(MainWindow* w, int);
void on_import_calendar(MainWindow* w, int);
void on_import_contacts(MainWindow* w, int);
void on_import_accounts(MainWindow* w, int);
void on_export_notes(MainWindow* w, int);
void on_export_calendar(MainWindow* w, int);
void on_export_contacts(MainWindow* w, int);
void on_export_accounts(MainWindow* w, int);
void on_export_repo(MainWindow* w, int);
void on_save_as(MainWindow* w, int);

// Help (handlers_help.cc)
void on_user_guide(MainWindow* w, int);
void on_send_trace(MainWindow* w, int);
