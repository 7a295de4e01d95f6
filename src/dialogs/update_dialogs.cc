// SPDX-License-Identifier: GPL-3.0-or-later
// The update check, offer and download.
#include "dialogs/update_dialogs.h"

#include <gtk/gtk.h>

#include <cstring>

#include "dialogs/bold_label.h"
#include "dialogs/message.h"
#include "dialogs/modal.h"
#include "dialogs/progress.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/version.h"
#include "sync/requests.h"
#include "sync/update_trust.h"
#include "views/icons_gtk.h"
#include "views/markup_view_gtk.h"

namespace {

struct CheckJob {
  ServerLogin login;
  std::string language;
  char* buf;
  size_t size;
  std::string* notes;
};

intptr_t check_worker(void* p) {
  auto* job = static_cast<CheckJob*>(p);
  return update_get_version(job->login, job->language.c_str(), job->buf, job->size, job->notes);
}

struct DownloadJob {
  ServerLogin login;
  const uint8_t* key;
  std::string dir;
  std::string file_name;
};

intptr_t download_worker(void* p) {
  auto* job = static_cast<DownloadJob*>(p);
  return update_fetch_verified(job->login, update_package_name(), job->dir.c_str(), job->key,
                               [](int percent) { progress_set(percent); }, &job->file_name);
}

}  // namespace

int update_check(char* buf, size_t size, std::string* notes) {
  if (!buf || size == 0) return -1;
  buf[0] = 0;
  CheckJob job;
  if (login_for_account(signed_in_account(), &job.login) != 0) return -1;
  const char* code = language_code(strings_language());
  job.language = code ? code : "en";
  job.buf = buf;
  job.size = size;
  job.notes = notes;
  int rc = static_cast<int>(run_with_progress(STR_APP_NAME, STR_CONTACTING_SERVER, check_worker, &job, false));
  log_message(LOG_INFO, "update_check: %d %s %s", rc, program_version(), buf);
  return rc;
}

bool update_can_install(const uint8_t* release_key, const char* exe_path) {
  return release_key && update_self_replace_allowed(exe_path);
}

bool update_offer(const char* version, const char* notes, bool installable) {
  GtkWidget* d = dialog_new(STR_APP_NAME);
  if (installable) {
    dialog_add_button(d, STR_NOT_NOW, GTK_RESPONSE_CANCEL);
    dialog_add_button(d, STR_UPDATE, GTK_RESPONSE_YES);
    gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_YES);
  } else {
    dialog_add_button(d, STR_CLOSE, GTK_RESPONSE_CANCEL);
  }
  GtkWidget* hbox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(hbox), 5);
  if (GdkPixbuf* icon = icon_get(ICON_SLOT_APP_48)) {
    GtkWidget* img = gtk_image_new_from_pixbuf(icon);
    gtk_widget_set_halign(img, GTK_ALIGN_START);
    gtk_widget_set_valign(img, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(hbox), img, FALSE, FALSE, 0);
  }
  GtkWidget* vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
  gtk_container_set_border_width(GTK_CONTAINER(vbox), 5);
  gtk_box_pack_start(GTK_BOX(vbox), bold_label_new(ui_string(STR_UPDATE_AVAILABLE), 1.2), FALSE, FALSE, 0);
  std::string versions = ui_format(STR_UPDATE_VERSIONS, version ? version : "", program_version());
  if (versions.size() > 255) {
    size_t n = 255;  // cut on a character boundary
    while (n > 0 && (static_cast<unsigned char>(versions[n]) & 0xC0) == 0x80) --n;
    versions.resize(n);
  }
  GtkWidget* label = gtk_label_new(versions.c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_box_pack_start(GTK_BOX(vbox), label, FALSE, FALSE, 0);
  if (notes && *notes) {
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 5);
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(view), 5);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
    // Text from the server: rendered, never acted on (links stay inert).
    markup_view_init(GTK_TEXT_VIEW(view), MarkupViewCallbacks());
    markup_render(GTK_TEXT_VIEW(view), notes);
    GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
    gtk_widget_set_size_request(sw, 500, 200);
    gtk_container_add(GTK_CONTAINER(sw), view);
    gtk_box_pack_start(GTK_BOX(vbox), sw, TRUE, TRUE, 0);
  }
  if (!installable) {
    GtkWidget* note = bold_label_new(ui_text(STR_UPDATE_PACKAGE_MANAGER));
    gtk_box_pack_start(GTK_BOX(vbox), note, FALSE, FALSE, 0);
  }
  gtk_box_pack_start(GTK_BOX(hbox), vbox, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), hbox, TRUE, TRUE, 0);
  gtk_widget_show_all(d);
  int response;
  {
    ModalScope scope(d);
    response = scope.run();
  }
  gtk_widget_destroy(d);
  return installable && response == GTK_RESPONSE_YES;
}

int update_download(const uint8_t* release_key, const char* dir, std::string* file_name) {
  file_name->clear();
  if (!release_key) return UPDATE_NO_KEY;
  DownloadJob job;
  if (login_for_account(signed_in_account(), &job.login) != 0) return -1;
  job.key = release_key;
  job.dir = dir ? dir : "";
  int rc = static_cast<int>(run_with_progress(STR_APP_NAME, STR_DOWNLOADING_UPDATE, download_worker, &job, true));
  if (rc == 0) *file_name = job.file_name;
  log_message(rc == 0 ? LOG_INFO : LOG_ERROR, "update_download: %d %s", rc, job.file_name.c_str());
  return rc;
}

void update_download_failed(int rc) {
  if (rc == UPDATE_BAD_SIGNATURE)
    show_message_text(STR_APP_NAME, ui_text(STR_UPDATE_BAD_SIGNATURE));
  else if (rc == UPDATE_NO_SIGNATURE || rc == UPDATE_NO_KEY)
    show_message_text(STR_APP_NAME,
                      ui_text(rc == UPDATE_NO_KEY ? STR_UPDATE_PACKAGE_MANAGER : STR_UPDATE_NO_SIGNATURE));
  else
    show_message(STR_APP_NAME, STR_MSG_UPDATE_NOT_DOWNLOADED);
}

int update_run(const char* version, const char* notes, const char* dir) {
  const uint8_t* key = release_public_key();
  std::string exe = program_file_path();
  bool installable = update_can_install(key, exe.c_str());
  log_message(LOG_INFO, "update_run: %s %d", version ? version : "", installable ? 1 : 0);
  if (!update_offer(version, notes, installable)) return 1;
  std::string file;
  int rc = update_download(key, dir, &file);
  if (rc == 0) rc = update_write_script(dir, file.c_str());
  if (rc == 0) rc = update_install(dir);
  if (rc != 0) update_download_failed(rc);
  return rc;
}
