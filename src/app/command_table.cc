// SPDX-License-Identifier: GPL-3.0-or-later
// The one command table. Later commands get their handler here; until then
// their entry has none and their menu items stay insensitive.
#include "app/commands.h"
#include "app/handlers.h"

namespace {

constexpr auto C = GDK_CONTROL_MASK;
constexpr auto CS = static_cast<GdkModifierType>(GDK_CONTROL_MASK | GDK_SHIFT_MASK);
constexpr auto N = static_cast<GdkModifierType>(0);

const Command kCommands[CMD_COUNT] = {
    {CMD_CHECK_UPDATE, STR_CHECK_FOR_UPDATES, 0, N, on_check_update, WHEN_ACCOUNT, nullptr},
    {CMD_ACCOUNT, STR_SYNC_ACCOUNT, 0, N, on_account, WHEN_ALWAYS, nullptr},
    {CMD_MASTER_PASSWORD, STR_CHANGE_MASTER_PASSWORD, 0, N, on_master_password, WHEN_ALWAYS, nullptr},
    {CMD_REPO_MANAGER, STR_REPOSITORIES, GDK_KEY_o, C, on_repo_manager, WHEN_ALWAYS, nullptr},
    {CMD_SYNC_ALL, STR_SYNCHRONISE_ALL, GDK_KEY_s, CS, on_sync_all, WHEN_ACCOUNT, "view-refresh"},
    {CMD_QUIT, STR_QUIT, GDK_KEY_q, C, on_quit, WHEN_ALWAYS, nullptr},
    {CMD_UNDO, STR_UNDO, GDK_KEY_z, C, on_undo, WHEN_UNDO, nullptr},
    {CMD_REDO, STR_REDO, GDK_KEY_y, C, on_redo, WHEN_REDO, nullptr},
    {CMD_NEW_NOTE, STR_NEW_NOTE, GDK_KEY_n, CS, on_create_note, WHEN_REAL_TAG, nullptr},
    {CMD_NEW_TASK, STR_NEW_TASK, GDK_KEY_t, CS, on_create_task, WHEN_REAL_TAG, nullptr},
    {CMD_NEW_EVENT, STR_NEW_EVENT, GDK_KEY_e, CS, on_create_event, WHEN_REAL_TAG, nullptr},
    {CMD_NEW_VCARD, STR_NEW_CONTACT, GDK_KEY_c, CS, on_create_vcard, WHEN_REAL_TAG, nullptr},
    {CMD_NEW_KEY, STR_NEW_KEY, GDK_KEY_a, CS, on_create_key, WHEN_REAL_TAG, nullptr},
    {CMD_NEW_TAG, STR_NEW_TAG, GDK_KEY_l, CS, on_create_tag, WHEN_REAL_TAG, nullptr},
    {CMD_COPY_USER, STR_COPY_USER_NAME, GDK_KEY_u, C, on_copy_user, WHEN_ALWAYS, nullptr},
    {CMD_COPY_PASSWORD, STR_COPY_PASSWORD, GDK_KEY_p, C, on_copy_password, WHEN_ALWAYS, nullptr},
    {CMD_SEARCH, STR_SEARCH_MENU, GDK_KEY_f, C, on_search, WHEN_ALWAYS, "edit-find"},
    {CMD_COMPLETED, STR_SHOW_COMPLETED, GDK_KEY_t, C, on_completed, WHEN_ALWAYS, nullptr},
    {CMD_SHOW_HIDDEN, STR_SHOW_HIDDEN_REPOS, GDK_KEY_h, C, on_show_hide, WHEN_ALWAYS, nullptr},
    {CMD_OPTIONS, STR_OPTIONS_MENU, 0, N, on_options, WHEN_ALWAYS, "document-properties"},
    {CMD_USER_GUIDE, STR_USER_GUIDE, 0, N, on_user_guide, WHEN_ALWAYS, nullptr},
    {CMD_SEND_TRACE, STR_SEND_LOG, 0, N, on_send_trace, WHEN_ACCOUNT, nullptr},
    {CMD_ABOUT, STR_ABOUT, 0, N, on_about, WHEN_ALWAYS, nullptr},
    {CMD_BACK, STR_BACK, 0, N, on_back, WHEN_CAN_BACK, "go-previous"},
    {CMD_FORWARD, STR_FORWARD, 0, N, on_forward, WHEN_CAN_FORWARD, "go-next"},
    {CMD_DELETE_TAG, STR_DELETE_TAG, 0, N, on_delete_tag, WHEN_TAG_DELETABLE, nullptr},
    {CMD_COPY_ALL, STR_COPY, 0, N, on_copy_all, WHEN_REPO_ROW, nullptr},
    {CMD_PASTE, STR_PASTE, 0, N, on_paste, WHEN_PASTE, nullptr},
    {CMD_IMPORT_NOTES, STR_IMPORT_NOTES, 0, N, on_import_notes, WHEN_REAL_TAG, nullptr},
    {CMD_IMPORT_CALENDAR, STR_IMPORT_CALENDAR, 0, N, on_import_calendar, WHEN_REAL_TAG, nullptr},
    {CMD_IMPORT_CONTACTS, STR_IMPORT_CONTACTS, 0, N, on_import_contacts, WHEN_REAL_TAG, nullptr},
    {CMD_IMPORT_ACCOUNTS, STR_IMPORT_KEYS, 0, N, on_import_accounts, WHEN_REAL_TAG, nullptr},
    {CMD_EXPORT_NOTES, STR_EXPORT_NOTES, 0, N, on_export_notes, WHEN_REAL_TAG, nullptr},
    {CMD_EXPORT_CALENDAR, STR_EXPORT_CALENDAR, 0, N, on_export_calendar, WHEN_REAL_TAG, nullptr},
    {CMD_EXPORT_CONTACTS, STR_EXPORT_CONTACTS, 0, N, on_export_contacts, WHEN_REAL_TAG, nullptr},
    {CMD_EXPORT_ACCOUNTS, STR_EXPORT_KEYS, 0, N, on_export_accounts, WHEN_REAL_TAG, nullptr},
    {CMD_SYNC_REPO, STR_SYNCHRONISE, 0, N, on_sync_repo, WHEN_SYNCABLE, nullptr},
    {CMD_EXPORT_REPO, STR_EXPORT_REPOSITORY, 0, N, on_export_repo, WHEN_SYNCABLE, nullptr},
    {CMD_LIST_TYPE, STR_LIST_UPCOMING, 0, N, on_list_type, WHEN_ALWAYS, nullptr},
    {CMD_NEXT_REMINDER, STR_DISMISS_REMINDER, 0, N, on_next_reminder, WHEN_ITEM, nullptr},
    {CMD_MOVE_DUE, STR_LATER, 0, N, on_move_due_date, WHEN_DUE, nullptr},
    {CMD_EDIT_ITEM, STR_EDIT, 0, N, on_item_edit, WHEN_ITEM, nullptr},
    {CMD_SET_TAGS, STR_SET_TAGS, 0, N, on_set_tags, WHEN_ITEM, nullptr},
    {CMD_ITEM_HISTORY, STR_HISTORY, 0, N, on_item_history, WHEN_HISTORY, nullptr},
    {CMD_DELETE_ITEM, STR_DELETE, 0, N, on_delete_item, WHEN_ITEM, nullptr},
    {CMD_TRASH, STR_MOVE_TO_TRASH, 0, N, on_trash, WHEN_ITEM, nullptr},
    {CMD_COPY_ITEMS, STR_COPY, 0, N, on_copy_items, WHEN_ITEM, nullptr},
    {CMD_ATTACH, STR_ATTACH, 0, N, on_attach, WHEN_CLIPBOARD, nullptr},
    {CMD_SAVE_AS, STR_SAVE_AS, 0, N, on_save_as, WHEN_ITEM, nullptr},
};

}  // namespace

const Command& command(int id) {
  static_assert(sizeof kCommands / sizeof kCommands[0] == CMD_COUNT);
  if (id < 0 || id >= CMD_COUNT) id = CMD_QUIT;
  return kCommands[id];
}
