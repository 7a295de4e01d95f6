// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes, the yes/no question, the copyable text box and the opener.
#include "dialogs/message.h"

#include <string>

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

bool ask_question(const std::string& primary, StrId secondary_id, StrId no_id, StrId yes_id) {
  GtkWidget* d =
      gtk_message_dialog_new(top_window(), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", primary.c_str());
  if (secondary_id != STR_NONE)
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", text_of(secondary_id));
  gtk_window_set_title(GTK_WINDOW(d), text_of(STR_APP_NAME));
  dialog_add_button(d, no_id, GTK_RESPONSE_CANCEL);
  dialog_add_button(d, yes_id, GTK_RESPONSE_YES);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_YES);
  int response;
  {
    ModalScope scope(d);
    response = scope.run();
  }
  gtk_widget_destroy(d);
  return response == GTK_RESPONSE_YES;
}

}  // namespace

void show_message_text(StrId title_id, const std::string& text) { message_box(GTK_MESSAGE_ERROR, title_id, text); }
void show_info_text(StrId title_id, const std::string& text) { message_box(GTK_MESSAGE_INFO, title_id, text); }

bool ask_yes_no(StrId primary_id, const char* arg, StrId secondary_id, StrId no_id, StrId yes_id) {
  std::string primary = arg ? ui_format(primary_id, arg) : std::string(text_of(primary_id));
  return ask_question(primary, secondary_id, no_id, yes_id);
}

bool ask_yes_no_text(const std::string& primary, StrId no_id, StrId yes_id, StrId secondary_id) {
  return ask_question(primary, secondary_id, no_id, yes_id);
}

void show_data_notice() { message_box(GTK_MESSAGE_INFO, STR_APP_NAME, text_of(STR_NEW_REMINDERS_DUE)); }

void show_copyable(StrId title_id, const char* text) {
  GtkWidget* d = dialog_new(title_id);
  dialog_add_button(d, STR_COPY, GTK_RESPONSE_APPLY);
  dialog_add_button(d, STR_CLOSE, GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
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
