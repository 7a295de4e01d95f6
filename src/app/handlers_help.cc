// SPDX-License-Identifier: GPL-3.0-or-later
// Help commands: the user guide in the browser, and the trace (the log)
// sent to the account server.
#include <glib.h>

#include <string>
#include <vector>

#include "app/file_commands.h"
#include "app/handlers.h"
#include "dialogs/message.h"
#include "dialogs/progress.h"
#include "model/app_core.h"
#include "storage/repo.h"
#include "support/files.h"
#include "support/log.h"
#include "support/strings.h"
#include "sync/error_text.h"
#include "sync/requests.h"

namespace {

struct TraceJob {
  ServerLogin login;
  std::string log_file;
  std::string dir;
};

intptr_t trace_worker(void* p) {
  auto* job = static_cast<TraceJob*>(p);
  return trace_send(job->login, job->log_file.c_str(), job->dir.c_str());
}

}  // namespace

std::vector<std::string> user_guide_roots() {
  std::vector<std::string> roots;
#ifdef ORDIKA_DATADIR
  roots.push_back(std::string(ORDIKA_DATADIR) + "/doc/ordika/guide");
#endif
#ifdef ORDIKA_BUILD_GUIDE
  roots.push_back(ORDIKA_BUILD_GUIDE);
#endif
  return roots;
}

std::string user_guide_find(const std::vector<std::string>& roots, const char* language) {
  std::string lang = language && *language ? language : "en";
  for (const std::string& root : roots) {
    for (const std::string& l : {lang, std::string("en")}) {
      std::string page = root + "/" + l + "/index.html";
      if (file_exists(page)) return page;
    }
  }
  return std::string();
}

void on_user_guide(MainWindow*, int) {
  log_message(LOG_INFO, "on_user_guide");
  std::string page = user_guide_find(user_guide_roots(), language_code(strings_language()));
  gchar* uri = page.empty() ? nullptr : g_filename_to_uri(page.c_str(), nullptr, nullptr);
  if (!uri) {
    show_message_text(STR_APP_NAME, ui_text(STR_GUIDE_MISSING));
    return;
  }
  open_address(uri);
  g_free(uri);
}

void on_send_trace(MainWindow*, int) {
  log_message(LOG_INFO, "on_send_trace");
  TraceJob job;
  if (login_for_account(signed_in_account(), &job.login) != 0) {
    show_message(STR_APP_NAME, STR_MSG_LOG_NOT_SENT, error_code_text(last_error()).c_str());
    return;
  }
  job.dir = app_core().config_dir;
  job.log_file = path_join(job.dir, "ordika.log");
  // Everything logged so far reaches the file before it is read.
  log_stop();
  set_last_error(0);
  intptr_t rc = run_with_progress(STR_APP_NAME, STR_CONTACTING_SERVER, trace_worker, &job, false);
  log_reenable();
  if (rc != 0) {
    show_message(STR_APP_NAME, STR_MSG_LOG_NOT_SENT, error_code_text(last_error()).c_str());
    return;
  }
  show_info(STR_APP_NAME, STR_MSG_LOG_SENT);
}
