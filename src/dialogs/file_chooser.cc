// SPDX-License-Identifier: GPL-3.0-or-later
// File choosers made under the top-window rule.
#include "dialogs/file_chooser.h"

#include "dialogs/modal.h"
#include "support/strings.h"

namespace {

ChooserHook g_hook;

struct FilterSpec {
  const char* name;
  const char* patterns[3];
  const char* mime;
};

const FilterSpec kFilters[] = {
    {"*", {"*", nullptr, nullptr}, nullptr},
    {"Text", {"*.txt", "*.text", "*.md"}, "text/plain"},
    {"iCalendar", {"*.ics", "*.ical", "*.ifb"}, "text/calendar"},
    {"vCard", {"*.vcf", "*.vcard", nullptr}, "text/vcard"},
    {"JSON", {"*.json", nullptr, nullptr}, "application/json"},
    {"*", {"*", nullptr, nullptr}, nullptr},
};

void add_filters(GtkFileChooser* chooser, ChooserFilter which) {
  if (which == CHOOSER_ANY || which == CHOOSER_REPO_FILE) return;
  const FilterSpec& f = kFilters[which];
  GtkFileFilter* own = gtk_file_filter_new();
  gtk_file_filter_set_name(own, f.name);
  for (const char* p : f.patterns)
    if (p) gtk_file_filter_add_pattern(own, p);
  if (f.mime) gtk_file_filter_add_mime_type(own, f.mime);
  gtk_file_chooser_add_filter(chooser, own);
  // Files of other programs often carry other names: everything stays one
  // choice away.
  GtkFileFilter* all = gtk_file_filter_new();
  gtk_file_filter_set_name(all, "*");
  gtk_file_filter_add_pattern(all, "*");
  gtk_file_chooser_add_filter(chooser, all);
  gtk_file_chooser_set_filter(chooser, own);
}

}  // namespace

void set_chooser_hook(ChooserHook hook) { g_hook = std::move(hook); }

std::vector<std::string> choose_files(const ChooserRequest& r) {
  if (g_hook) return g_hook(r);
  const char* title = ui_string(r.title_id);
  const char* cancel = ui_string(STR_CANCEL);
  const char* accept = ui_string(r.accept_id);
  GtkWidget* d = gtk_file_chooser_dialog_new(title ? title : "", top_window(), r.action, cancel ? cancel : "",
                                             GTK_RESPONSE_CANCEL, accept ? accept : "", GTK_RESPONSE_ACCEPT,
                                             nullptr);
  gtk_window_set_modal(GTK_WINDOW(d), TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_ACCEPT);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(d);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  gtk_file_chooser_set_select_multiple(chooser, r.multiple && r.action == GTK_FILE_CHOOSER_ACTION_OPEN);
  gtk_file_chooser_set_create_folders(chooser, r.create_folders || r.action == GTK_FILE_CHOOSER_ACTION_SAVE);
  if (r.action == GTK_FILE_CHOOSER_ACTION_SAVE) gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
  if (!r.folder.empty()) gtk_file_chooser_set_current_folder(chooser, r.folder.c_str());
  if (!r.suggested.empty() && r.action == GTK_FILE_CHOOSER_ACTION_SAVE)
    gtk_file_chooser_set_current_name(chooser, r.suggested.c_str());
  add_filters(chooser, r.filter);
  std::vector<std::string> out;
  int response;
  {
    ModalScope scope(d);
    response = scope.run();
  }
  if (response == GTK_RESPONSE_ACCEPT) {
    GSList* names = gtk_file_chooser_get_filenames(chooser);
    for (GSList* l = names; l; l = l->next) {
      if (l->data) out.emplace_back(static_cast<const char*>(l->data));
      g_free(l->data);
    }
    g_slist_free(names);
  }
  gtk_widget_destroy(d);
  return out;
}

std::string choose_file(const ChooserRequest& r) {
  std::vector<std::string> paths = choose_files(r);
  return paths.empty() ? std::string() : paths.front();
}
