// SPDX-License-Identifier: GPL-3.0-or-later
// Menus, toolbar and their sensitivity, all built from the command table.
#include "app/commands.h"

#include "app/window.h"
#include "model/app_core.h"
#include "model/clipboard.h"
#include "model/item.h"
#include "model/model.h"
#include "model/ops.h"
#include "model/tag.h"
#include "model/undo_state.h"
#include "storage/repo.h"
#include "support/strings.h"

namespace {

enum { SEP = -1, SUBMENU_END = -2 };

struct MenuEntry {
  int command;  // SEP for a separator
  StrId label;  // STR_NONE: the command's own label
  int arg;
};

const MenuEntry kFileMenu[] = {
    {CMD_CHECK_UPDATE, STR_NONE, 0},    {SEP, STR_NONE, 0}, {CMD_ACCOUNT, STR_NONE, 0},
    {CMD_MASTER_PASSWORD, STR_NONE, 0}, {SEP, STR_NONE, 0}, {CMD_REPO_MANAGER, STR_NONE, 0},
    {CMD_SYNC_ALL, STR_NONE, 0},        {SEP, STR_NONE, 0}, {CMD_QUIT, STR_NONE, 0},
};
const MenuEntry kEditMenu[] = {
    {CMD_UNDO, STR_NONE, 0},      {CMD_REDO, STR_NONE, 0},          {SEP, STR_NONE, 0},
    {CMD_NEW_NOTE, STR_NONE, 0},  {CMD_NEW_TASK, STR_NONE, 0},      {CMD_NEW_EVENT, STR_NONE, 0},
    {CMD_NEW_VCARD, STR_NONE, 0}, {CMD_NEW_KEY, STR_NONE, 0},       {CMD_NEW_TAG, STR_NONE, 0},
    {SEP, STR_NONE, 0},            {CMD_COPY_USER, STR_NONE, 0},     {CMD_COPY_PASSWORD, STR_NONE, 0},
    {SEP, STR_NONE, 0},            {CMD_SEARCH, STR_NONE, 0},        {SEP, STR_NONE, 0},
    {CMD_COMPLETED, STR_NONE, 0}, {CMD_SHOW_HIDDEN, STR_NONE, 0},   {SEP, STR_NONE, 0},
    {CMD_OPTIONS, STR_NONE, 0},
};
const MenuEntry kHelpMenu[] = {
    {CMD_USER_GUIDE, STR_NONE, 0}, {SEP, STR_NONE, 0}, {CMD_SEND_TRACE, STR_NONE, 0}, {SEP, STR_NONE, 0},
    {CMD_ABOUT, STR_NONE, 0},
};
const MenuEntry kImportMenu[] = {
    {CMD_IMPORT_NOTES, STR_NONE, 0},
    {CMD_IMPORT_CALENDAR, STR_NONE, 0},
    {CMD_IMPORT_CONTACTS, STR_NONE, 0},
    {CMD_IMPORT_ACCOUNTS, STR_NONE, 0},
};
// The repository export sits with the other exports of the selected tag.
const MenuEntry kExportMenu[] = {
    {CMD_EXPORT_NOTES, STR_NONE, 0},    {CMD_EXPORT_CALENDAR, STR_NONE, 0}, {CMD_EXPORT_CONTACTS, STR_NONE, 0},
    {CMD_EXPORT_ACCOUNTS, STR_NONE, 0}, {SEP, STR_NONE, 0},                  {CMD_EXPORT_REPO, STR_NONE, 0},
};
const MenuEntry kTagMenu[] = {
    {CMD_NEW_NOTE, STR_TAG_MENU_NEW_NOTE, 0},
    {CMD_NEW_TASK, STR_TAG_MENU_NEW_TASK, 0},
    {CMD_NEW_EVENT, STR_TAG_MENU_NEW_EVENT, 0},
    {CMD_NEW_VCARD, STR_TAG_MENU_NEW_CONTACT, 0},
    {CMD_NEW_KEY, STR_TAG_MENU_NEW_KEY, 0},
    {SEP, STR_NONE, 0},
    {CMD_NEW_TAG, STR_TAG_MENU_NEW_TAG, 0},
    {CMD_DELETE_TAG, STR_NONE, 0},
    {SEP, STR_NONE, 0},
    {CMD_COPY_ALL, STR_NONE, 0},
    {CMD_PASTE, STR_NONE, 0},
};
// List types 0..8 and their names.
const StrId kListTypeLabels[9] = {STR_LIST_UPCOMING, STR_CALENDAR,  STR_LIST_TASKS,    STR_LIST_EVENTS, STR_LIST_NOTES,
                                  STR_LIST_CONTACTS, STR_LIST_KEYS, STR_LIST_UNTAGGED, STR_LIST_ALL};

// The window a command widget belongs to (set when it is bound).
MainWindow* owner(gpointer widget) {
  return static_cast<MainWindow*>(g_object_get_data(G_OBJECT(widget), "command-window"));
}

void on_command_item(GtkMenuItem* item, gpointer user) {
  int arg = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "command-arg"));
  command_run(owner(item), GPOINTER_TO_INT(user), arg);
}

void on_command_tool(GtkToolButton* button, gpointer user) {
  command_run(owner(button), GPOINTER_TO_INT(user), 0);
}

// A widget that is destroyed (a popup menu, the window at quit) leaves the
// command and relabel lists; compared by address, it is gone already.
void forget_widget(gpointer data, GObject* gone) {
  auto* w = static_cast<MainWindow*>(data);
  void* p = gone;
  std::erase_if(w->command_widgets, [p](const CommandWidget& c) { return static_cast<void*>(c.widget) == p; });
  std::erase_if(w->relabel_list, [p](const RelabelEntry& r) { return static_cast<void*>(r.widget) == p; });
}

void track(MainWindow* w, GtkWidget* widget) {
  if (!g_object_get_data(G_OBJECT(widget), "ordika-tracked")) {
    g_object_set_data(G_OBJECT(widget), "ordika-tracked", GINT_TO_POINTER(1));
    g_object_weak_ref(G_OBJECT(widget), forget_widget, w);
  }
}

void bind(MainWindow* w, GtkWidget* widget, int id) {
  w->command_widgets.push_back({widget, id});
  g_object_set_data(G_OBJECT(widget), "command-window", w);
  track(w, widget);
}

void fill_menu(MainWindow* w, GtkWidget* menu, const MenuEntry* e, size_t n, bool relabel) {
  for (size_t i = 0; i < n; i++) {
    GtkWidget* item = e[i].command == SEP
                          ? gtk_separator_menu_item_new()
                          : command_menu_item(w, e[i].command, e[i].label, e[i].arg, relabel);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  }
}

GtkWidget* titled_menu(MainWindow* w, StrId label, GtkWidget* submenu) {
  GtkWidget* item = gtk_menu_item_new_with_label(ui_string(label));
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu);
  w->relabel_list.push_back({item, label, -1});
  track(w, item);
  return item;
}

GtkWidget* new_menu(MainWindow* w) {
  GtkWidget* menu = gtk_menu_new();
  gtk_menu_set_accel_group(GTK_MENU(menu), w->accel);
  return menu;
}

bool selected_task_has_due() {
  Item* item = item_get(model().selected_item);
  return item && item->type == ITEM_TASK && item->due != 0;
}

// The clipboard holds items (not a whole repository), the first in the
// repository of the selected task, event or note.
bool can_attach() {
  const std::vector<int32_t>& clip = clipboard();
  const Item* item = item_get(model().selected_item);
  if (!item || clip.empty() || clip[0] < 0) return false;
  if (item->type != ITEM_TASK && item->type != ITEM_EVENT && item->type != ITEM_NOTE) return false;
  const Item* first = item_get(clip[0]);
  return first && first->repo == item->repo;
}

}  // namespace

CommandState command_state(const MainWindow& w) {
  CommandState s;
  Model& m = model();
  s.has_account = app_core().has_account;
  s.can_back = nav_ring_can_back(w.nav);
  s.can_forward = nav_ring_can_forward(w.nav);
  s.clipboard = !clipboard().empty();
  s.item = m.selected_item >= 0;
  if (w.item_list) {
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(w.item_list));
    s.item = gtk_tree_selection_count_selected_rows(sel) > 0;
  }
  s.due = selected_task_has_due();
  s.attach = can_attach();
  s.history = m.selected_item >= 0 && item_has_history(m.selected_item);
  if (const Tag* tag = model_selected_tag()) {
    s.real_tag = true;
    s.repo_row = uuid_is_zero(tag->parent);
    s.undo_state = w.undo_state;
    bool linked = tag->repo >= 0 && static_cast<size_t>(tag->repo) < repo_table().size() &&
                  !repo_table()[tag->repo].server_id.empty();
    s.syncable = s.repo_row && s.has_account && linked;
  }
  return s;
}

bool command_enabled(int id, const CommandState& s) {
  const Command& c = command(id);
  return c.handler && command_condition(c.when, s);
}

bool command_condition(CommandWhen when, const CommandState& s) {
  switch (when) {
    case WHEN_ALWAYS: return true;
    case WHEN_ACCOUNT: return s.has_account;
    case WHEN_UNDO: return s.real_tag && (s.undo_state & 1);
    case WHEN_REDO: return s.real_tag && (s.undo_state & 2);
    case WHEN_REAL_TAG: return s.real_tag;
    case WHEN_REPO_ROW: return s.repo_row;
    case WHEN_PASTE: return s.real_tag && s.clipboard;
    case WHEN_TAG_DELETABLE: return s.real_tag && !s.repo_row;
    case WHEN_SYNCABLE: return s.syncable;
    case WHEN_CAN_BACK: return s.can_back;
    case WHEN_CAN_FORWARD: return s.can_forward;
    case WHEN_ITEM: return s.item;
    case WHEN_CLIPBOARD: return s.attach;
    case WHEN_HISTORY: return s.history;
    case WHEN_DUE: return s.due;
  }
  return false;
}

void commands_refresh(MainWindow* w) {
  CommandState s = command_state(*w);
  for (const CommandWidget& cw : w->command_widgets)
    gtk_widget_set_sensitive(cw.widget, command_enabled(cw.command, s));
}

int command_run(MainWindow* w, int id, int arg) {
  if (!w || id < 0 || id >= CMD_COUNT) return -1;
  if (!command_enabled(id, command_state(*w))) return -1;
  command(id).handler(w, arg);
  return 0;
}

StrId command_label(int id) {
  if (id == CMD_COMPLETED) return app_core().settings.show_completed ? STR_HIDE_COMPLETED : STR_SHOW_COMPLETED;
  if (id == CMD_SHOW_HIDDEN) return model().show_hidden ? STR_STOP_SHOWING_HIDDEN_REPOS : STR_SHOW_HIDDEN_REPOS;
  return command(id).label;
}

GtkWidget* command_menu_item(MainWindow* w, int id, StrId label, int arg, bool relabel) {
  StrId text = label != STR_NONE ? label : command_label(id);
  GtkWidget* item = gtk_menu_item_new_with_label(ui_string(text));
  g_object_set_data(G_OBJECT(item), "command-arg", GINT_TO_POINTER(arg));
  g_signal_connect(item, "activate", G_CALLBACK(on_command_item), GINT_TO_POINTER(id));
  const Command& c = command(id);
  if (c.key && w->accel)
    gtk_widget_add_accelerator(item, "activate", w->accel, c.key, c.mods, GTK_ACCEL_VISIBLE);
  bind(w, item, id);
  if (relabel) w->relabel_list.push_back({item, label, label != STR_NONE ? -1 : id});
  return item;
}

GtkToolItem* command_tool_button(MainWindow* w, int id, StrId label) {
  const Command& c = command(id);
  GtkWidget* icon = gtk_image_new_from_icon_name(c.icon, GTK_ICON_SIZE_BUTTON);
  GtkToolItem* button = gtk_tool_button_new(icon, ui_string(label));
  gtk_tool_item_set_is_important(button, TRUE);
  gtk_tool_item_set_tooltip_text(button, ui_string(label));
  g_signal_connect(button, "clicked", G_CALLBACK(on_command_tool), GINT_TO_POINTER(id));
  bind(w, GTK_WIDGET(button), id);
  w->relabel_list.push_back({GTK_WIDGET(button), label, -1});
  return button;
}

GtkWidget* menubar_build(MainWindow* w) {
  GtkWidget* bar = gtk_menu_bar_new();
  struct {
    StrId label;
    const MenuEntry* entries;
    size_t n;
  } menus[] = {
      {STR_MENU_FILE, kFileMenu, G_N_ELEMENTS(kFileMenu)},
      {STR_MENU_EDIT, kEditMenu, G_N_ELEMENTS(kEditMenu)},
      {STR_MENU_HELP, kHelpMenu, G_N_ELEMENTS(kHelpMenu)},
  };
  for (auto& m : menus) {
    GtkWidget* menu = new_menu(w);
    fill_menu(w, menu, m.entries, m.n, true);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), titled_menu(w, m.label, menu));
  }
  return bar;
}

GtkWidget* toolbar_build(MainWindow* w) {
  GtkWidget* bar = gtk_toolbar_new();
  gtk_toolbar_set_style(GTK_TOOLBAR(bar), GTK_TOOLBAR_BOTH_HORIZ);
  gtk_toolbar_set_show_arrow(GTK_TOOLBAR(bar), TRUE);
  const struct {
    int id;
    StrId label;
  } buttons[] = {
      {CMD_BACK, STR_BACK}, {CMD_FORWARD, STR_FORWARD}, {CMD_SEARCH, STR_SEARCH}, {CMD_SYNC_ALL, STR_SYNCHRONISE_ALL}};
  for (auto& b : buttons)
    gtk_toolbar_insert(GTK_TOOLBAR(bar), command_tool_button(w, b.id, b.label), -1);
  gtk_toolbar_insert(GTK_TOOLBAR(bar), gtk_separator_tool_item_new(), -1);
  gtk_toolbar_insert(GTK_TOOLBAR(bar), command_tool_button(w, CMD_OPTIONS, STR_OPTIONS), -1);
  return bar;
}

GtkWidget* tag_menu_build(MainWindow* w) {
  GtkWidget* menu = new_menu(w);
  fill_menu(w, menu, kTagMenu, G_N_ELEMENTS(kTagMenu), true);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
  GtkWidget* import = new_menu(w);
  fill_menu(w, import, kImportMenu, G_N_ELEMENTS(kImportMenu), true);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), titled_menu(w, STR_IMPORT, import));
  GtkWidget* exp = new_menu(w);
  fill_menu(w, exp, kExportMenu, G_N_ELEMENTS(kExportMenu), true);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), titled_menu(w, STR_EXPORT, exp));
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), command_menu_item(w, CMD_SYNC_REPO, STR_NONE, 0, true));
  gtk_widget_show_all(menu);
  return menu;
}

GtkWidget* list_type_menu_build(MainWindow* w) {
  GtkWidget* menu = new_menu(w);
  for (int i = 0; i < 9; i++)
    gtk_menu_shell_append(GTK_MENU_SHELL(menu),
                          command_menu_item(w, CMD_LIST_TYPE, kListTypeLabels[i], i, true));
  gtk_widget_show_all(menu);
  return menu;
}

StrId list_type_label(int type) { return type >= 0 && type < 9 ? kListTypeLabels[type] : STR_LIST_ALL; }

GtkWidget* item_popup_build(MainWindow* w) {
  Model& m = model();
  GtkWidget* menu = gtk_menu_new();
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(w->item_list));
  int rows = gtk_tree_selection_count_selected_rows(sel);
  auto add = [&](int id, StrId label, int arg) {
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), command_menu_item(w, id, label, arg, false));
  };
  auto sep = [&]() { gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new()); };
  Item* item = rows == 1 ? item_get(m.selected_item) : nullptr;
  if (item) {
    if (m.view == VIEW_REMINDERS) {
      add(CMD_NEXT_REMINDER, STR_NONE, 0);
      sep();
    }
    if (item->type == ITEM_TASK) {
      GtkWidget* due = gtk_menu_item_new_with_label(ui_string(STR_LATER));
      bind(w, due, CMD_MOVE_DUE);
      if (item->due != 0) {
        GtkWidget* sub = gtk_menu_new();
        for (int i = 0; i < 6; i++)
          gtk_menu_shell_append(GTK_MENU_SHELL(sub),
                                command_menu_item(w, CMD_MOVE_DUE, str_at(STR_DUE_MOVE_RANGE, i), i, false));
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(due), sub);
      }
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), due);
      sep();
    }
    add(CMD_EDIT_ITEM, STR_NONE, 0);
    add(CMD_SET_TAGS, STR_NONE, 0);
    add(CMD_ITEM_HISTORY, STR_NONE, 0);
    sep();
    add(CMD_DELETE_ITEM, STR_NONE, 0);
    add(CMD_TRASH, (item->flags & ITEM_TRASHED) ? STR_RESTORE_FROM_TRASH : STR_MOVE_TO_TRASH, 0);
    sep();
    add(CMD_COPY_ITEMS, STR_NONE, 0);
    if (item->type == ITEM_TASK || item->type == ITEM_EVENT || item->type == ITEM_NOTE) add(CMD_ATTACH, STR_NONE, 0);
    add(CMD_SAVE_AS, STR_NONE, 0);
  } else if (rows > 1) {
    if (m.view > 0) {
      add(CMD_SET_TAGS, STR_NONE, 0);
      sep();
    }
    add(CMD_DELETE_ITEM, STR_NONE, 0);
    add(CMD_TRASH, m.view == VIEW_TRASH ? STR_RESTORE_FROM_TRASH : STR_MOVE_TO_TRASH, 0);
    sep();
    add(CMD_COPY_ITEMS, STR_NONE, 0);
  }
  commands_refresh(w);
  gtk_widget_show_all(menu);
  return menu;
}

void commands_relabel(MainWindow* w) {
  for (const RelabelEntry& r : w->relabel_list) {
    StrId id = r.command >= 0 ? command_label(r.command) : r.string_id;
    if (GTK_IS_MENU_ITEM(r.widget)) gtk_menu_item_set_label(GTK_MENU_ITEM(r.widget), ui_string(id));
    else if (GTK_IS_TOOL_BUTTON(r.widget)) {
      gtk_tool_button_set_label(GTK_TOOL_BUTTON(r.widget), ui_string(id));
      gtk_tool_item_set_tooltip_text(GTK_TOOL_ITEM(r.widget), ui_string(id));
    }
  }
}
