// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes, the yes/no question, the copyable text box and the opener.
#include "dialogs/message.h"

#include <string>

#include "dialogs/layout.h"
#include "dialogs/modal.h"
#include "dialogs/secret_clipboard.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

const char* text_of(StrId id) {
  const char* s = ui_string(id);
  return s ? s : "";
}

void message_box(GtkMessageType type, StrId title_id, const std::string& text) {
  // "%s": the formatted text is shown as it is, never read as a format again.
  GtkWidget* d = gtk_message_dialog_new(top_window(), GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(d), text_of(title_id));
  dialog_add_button(d, STR_OK, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  {
    ModalScope scope(d);
    scope.run();
  }
  gtk_widget_destroy(d);
}

}  // namespace

void show_message_text(StrId title_id, const std::string& text) { message_box(GTK_MESSAGE_ERROR, title_id, text); }
void show_info_text(StrId title_id, const std::string& text) { message_box(GTK_MESSAGE_INFO, title_id, text); }

bool ask_yes_no(StrId primary_id, const char* arg, StrId secondary_id, StrId no_id, StrId yes_id) {
  return ask_yes_no_text(arg ? ui_format(primary_id, arg) : std::string(text_of(primary_id)), no_id, yes_id,
                         secondary_id);
}

bool ask_yes_no_text(const std::string& primary, StrId no_id, StrId yes_id, StrId secondary_id) {
  SafeQuestion q;
  q.primary = primary;
  if (secondary_id != STR_NONE) q.secondary = text_of(secondary_id);
  q.cancel_id = no_id;
  q.yes_id = yes_id;
  // Every such question guards an act that cannot be taken back.
  q.destructive = true;
  return ask_safe_default(q);
}

bool ask_safe_default(const SafeQuestion& q) {
  GtkWidget* d =
      gtk_message_dialog_new(top_window(), GTK_DIALOG_MODAL, q.type, GTK_BUTTONS_NONE, "%s", q.primary.c_str());
  if (!q.secondary.empty()) gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", q.secondary.c_str());
  gtk_window_set_title(GTK_WINDOW(d), text_of(q.title_id));
  GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(d));
  if (q.selectable) {
    GList* labels = gtk_container_get_children(GTK_CONTAINER(area));
    for (GList* l = labels; l; l = l->next)
      if (GTK_IS_LABEL(l->data)) gtk_label_set_selectable(GTK_LABEL(l->data), TRUE);
    g_list_free(labels);
  }
  if (q.extra) {
    gtk_box_pack_start(GTK_BOX(area), q.extra, FALSE, FALSE, 0);
    gtk_widget_show_all(q.extra);
  }
  dialog_add_button(d, q.cancel_id, GTK_RESPONSE_CANCEL);
  GtkWidget* yes = dialog_add_button(d, q.yes_id, GTK_RESPONSE_YES);
  if (q.destructive) button_set_destructive(yes);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
  int response;
  {
    ModalScope scope(d);
    gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL));
    response = scope.run();
  }
  // Taken out before the dialog goes, so that the caller's reference keeps
  // it whole to be read.
  if (q.extra) gtk_container_remove(GTK_CONTAINER(area), q.extra);
  gtk_widget_destroy(d);
  return response == GTK_RESPONSE_YES;
}

bool ask_showing_text(StrId primary_id, StrId secondary_id, const std::string& text, StrId yes_id) {
  GtkWidget* d = gtk_message_dialog_new(top_window(), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s",
                                        text_of(primary_id));
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", text_of(secondary_id));
  gtk_window_set_title(GTK_WINDOW(d), text_of(STR_APP_NAME));
  dialog_add_button(d, STR_CANCEL, GTK_RESPONSE_CANCEL);
  dialog_add_button(d, yes_id, GTK_RESPONSE_YES);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_YES);
  GtkWidget* view = gtk_text_view_new();
  gtk_widget_set_name(view, "shown-text");
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_monospace(GTK_TEXT_VIEW(view), TRUE);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text.c_str(), -1);
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
  gtk_widget_set_size_request(sw, 560, 280);
  gtk_container_add(GTK_CONTAINER(sw), view);
  gtk_box_pack_start(GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(d))), sw, TRUE, TRUE, 0);
  gtk_widget_show_all(sw);
  int response;
  {
    ModalScope scope(d);
    response = scope.run();
  }
  gtk_widget_destroy(d);
  return response == GTK_RESPONSE_YES;
}

void show_data_notice() { message_box(GTK_MESSAGE_INFO, STR_APP_NAME, text_of(STR_NEW_REMINDERS_DUE)); }

void show_copyable(StrId title_id, const char* text) {
  GtkWidget* d = dialog_new(title_id);
  dialog_add_button(d, STR_COPY, GTK_RESPONSE_APPLY);
  dialog_add_button(d, STR_CLOSE, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, HIG_ROW_SPACING);
  gtk_container_set_border_width(GTK_CONTAINER(box), HIG_BORDER);
  gtk_widget_set_size_request(box, 300, -1);
  GtkWidget* label = gtk_label_new(text ? text : "");
  PangoAttrList* attrs = pango_attr_list_new();
  pango_attr_list_insert(attrs, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
  pango_attr_list_insert(attrs, pango_attr_scale_new(1.2));
  gtk_label_set_attributes(GTK_LABEL(label), attrs);
  pango_attr_list_unref(attrs);
  gtk_label_set_selectable(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
  gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 5);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), box, TRUE, TRUE, 0);
  gtk_widget_show_all(d);
  {
    ModalScope scope(d);
    while (scope.run() == GTK_RESPONSE_APPLY) {
      // Every text shown here is a password: cleared from the clipboard later.
      clipboard_put_secret(text);
    }
  }
  gtk_widget_destroy(d);
}

int open_address(const char* text) {
  // A text starting with "-" would reach the opener as an option.
  if (!text || !*text || text[0] == '-') {
    log_message(LOG_WARNING, "open_address: refused");
    return -1;
  }
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(text), nullptr};
  GError* err = nullptr;
  gboolean ok = g_spawn_async("/", argv, nullptr,
                              static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                                       G_SPAWN_STDERR_TO_DEV_NULL),
                              nullptr, nullptr, nullptr, &err);
  if (!ok) {
    log_message(LOG_ERROR, "open_address: %s", err ? err->message : "spawn failed");
    g_clear_error(&err);
    return -1;
  }
  return 0;
}
