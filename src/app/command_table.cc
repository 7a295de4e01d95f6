// The one command table. Later commands get their handler here; until then
// their entry has none and their menu items stay insensitive.
#include "app/commands.h"
#include "app/handlers.h"

namespace {

constexpr auto C = GDK_CONTROL_MASK;
constexpr auto CS = static_cast<GdkModifierType>(GDK_CONTROL_MASK | GDK_SHIFT_MASK);
constexpr auto N = static_cast<GdkModifierType>(0);

const Command kCommands[CMD_COUNT] = {
    {CMD_CHECK_UPDATE, 315, 0, N, on_check_update, WHEN_ACCOUNT, nullptr},
    {CMD_ACCOUNT, 245, 0, N, on_account, WHEN_ALWAYS, nullptr},
    {CMD_MASTER_PASSWORD, 246, 0, N, on_master_password, WHEN_ALWAYS, nullptr},
    {CMD_REPO_MANAGER, 275, GDK_KEY_o, C, on_repo_manager, WHEN_ALWAYS, nullptr},
    {CMD_SYNC_ALL, 255, GDK_KEY_s, CS, on_sync_all, WHEN_ACCOUNT, "view-refresh"},
    {CMD_QUIT, 183, GDK_KEY_q, C, on_quit, WHEN_ALWAYS, nullptr},
    {CMD_UNDO, 54, GDK_KEY_z, C, on_undo, WHEN_UNDO, nullptr},
    {CMD_REDO, 55, GDK_KEY_y, C, on_redo, WHEN_REDO, nullptr},
    {CMD_NEW_NOTE, 56, GDK_KEY_n, CS, on_create_note, WHEN_REAL_TAG, nullptr},
    {CMD_NEW_TASK, 57, GDK_KEY_t, CS, on_create_task, WHEN_REAL_TAG, nullptr},
    {CMD_NEW_EVENT, 58, GDK_KEY_e, CS, on_create_event, WHEN_REAL_TAG, nullptr},
    {CMD_NEW_VCARD, 59, GDK_KEY_c, CS, on_create_vcard, WHEN_REAL_TAG, nullptr},
    {CMD_NEW_KEY, 60, GDK_KEY_a, CS, on_create_key, WHEN_REAL_TAG, nullptr},
    {CMD_NEW_TAG, 61, GDK_KEY_l, CS, on_create_tag, WHEN_REAL_TAG, nullptr},
    {CMD_COPY_USER, 264, GDK_KEY_u, C, on_copy_user, WHEN_ALWAYS, nullptr},
    {CMD_COPY_PASSWORD, 265, GDK_KEY_p, C, on_copy_password, WHEN_ALWAYS, nullptr},
    {CMD_SEARCH, 383, GDK_KEY_f, C, on_search, WHEN_ALWAYS, "edit-find"},
    {CMD_COMPLETED, 286, GDK_KEY_t, C, on_completed, WHEN_ALWAYS, nullptr},
    {CMD_SHOW_HIDDEN, 288, GDK_KEY_h, C, on_show_hide, WHEN_ALWAYS, nullptr},
    {CMD_OPTIONS, 181, 0, N, on_options, WHEN_ALWAYS, "document-properties"},
    {CMD_USER_GUIDE, 326, 0, N, on_user_guide, WHEN_ALWAYS, nullptr},
    {CMD_SEND_TRACE, 327, 0, N, on_send_trace, WHEN_ACCOUNT, nullptr},
    {CMD_ABOUT, 182, 0, N, on_about, WHEN_ALWAYS, nullptr},
    {CMD_BACK, 207, 0, N, on_back, WHEN_CAN_BACK, "go-previous"},
    {CMD_FORWARD, 208, 0, N, on_forward, WHEN_CAN_FORWARD, "go-next"},
    {CMD_DELETE_TAG, 95, 0, N, on_delete_tag, WHEN_TAG_DELETABLE, nullptr},
    {CMD_COPY_ALL, 72, 0, N, on_copy_all, WHEN_REPO_ROW, nullptr},
    {CMD_PASTE, 73, 0, N, on_paste, WHEN_PASTE, nullptr},
    {CMD_IMPORT_NOTES, 80, 0, N, on_import_notes, WHEN_REAL_TAG, nullptr},
    {CMD_IMPORT_CALENDAR, 82, 0, N, on_import_calendar, WHEN_REAL_TAG, nullptr},
    {CMD_IMPORT_CONTACTS, 86, 0, N, on_import_contacts, WHEN_REAL_TAG, nullptr},
    {CMD_IMPORT_ACCOUNTS, 84, 0, N, on_import_accounts, WHEN_REAL_TAG, nullptr},
    {CMD_EXPORT_NOTES, 81, 0, N, on_export_notes, WHEN_REAL_TAG, nullptr},
    {CMD_EXPORT_CALENDAR, 83, 0, N, on_export_calendar, WHEN_REAL_TAG, nullptr},
    {CMD_EXPORT_CONTACTS, 87, 0, N, on_export_contacts, WHEN_REAL_TAG, nullptr},
    {CMD_EXPORT_ACCOUNTS, 85, 0, N, on_export_accounts, WHEN_REAL_TAG, nullptr},
    {CMD_SYNC_REPO, 254, 0, N, on_sync_repo, WHEN_SYNCABLE, nullptr},
    {CMD_EXPORT_REPO, 88, 0, N, on_export_repo, WHEN_SYNCABLE, nullptr},
    {CMD_LIST_TYPE, 98, 0, N, on_list_type, WHEN_ALWAYS, nullptr},
    {CMD_NEXT_REMINDER, 69, 0, N, on_next_reminder, WHEN_ITEM, nullptr},
    {CMD_MOVE_DUE, 62, 0, N, on_move_due_date, WHEN_DUE, nullptr},
    {CMD_EDIT_ITEM, 282, 0, N, on_item_edit, WHEN_ITEM, nullptr},
    {CMD_SET_TAGS, 384, 0, N, on_set_tags, WHEN_ITEM, nullptr},
    {CMD_ITEM_HISTORY, 179, 0, N, on_item_history, WHEN_HISTORY, nullptr},
    {CMD_DELETE_ITEM, 75, 0, N, on_delete_item, WHEN_ITEM, nullptr},
    {CMD_TRASH, 76, 0, N, on_trash, WHEN_ITEM, nullptr},
    {CMD_COPY_ITEMS, 72, 0, N, on_copy_items, WHEN_ITEM, nullptr},
    {CMD_ATTACH, 74, 0, N, on_attach, WHEN_CLIPBOARD, nullptr},
    {CMD_SAVE_AS, 310, 0, N, on_save_as, WHEN_ITEM, nullptr},
};

}  // namespace

const Command& command(int id) {
  static_assert(sizeof kCommands / sizeof kCommands[0] == CMD_COUNT);
  if (id < 0 || id >= CMD_COUNT) id = CMD_QUIT;
  return kCommands[id];
}
