// SPDX-License-Identifier: GPL-3.0-or-later
// The GTK-free half of start-up and shutdown, shared by the window and the
// command-line tool: profile directory, master password (unlock, or first-run
// creation), settings, repository root, default repository, mounting and the
// saved selection; and at the end journals reset, repositories closed and
// settings saved.
//
// The configuration database itself is config_db() of storage/repo.h (it is
// replaced when the master password changes).
#pragma once

#include <functional>
#include <string>

#include "model/settings.h"
#include "support/string_ids.h"

struct AppCore {
  std::string profile = "Ordika";
  std::string home;        // $HOME
  std::string config_dir;  // absolute path of the profile directory
  std::string repo_root;   // setting "repo_root"
  int locale_language = 0;
  Settings settings;       // settings.language is the language in use
  DialogSizes dialog_sizes;
  bool has_account = false;
  bool first_run = false;  // the configuration database was created now
  int is_64bit = 0;
  bool started = false;    // app_startup succeeded; app_shutdown saves
};

// The process-wide state.
AppCore& app_core();
// Puts every process-wide state back as a fresh process has it: the core
// state and settings, the model, and the repository layer (table,
// configuration database, account, last error). The test fixtures' one reset.
void app_reset();

// The caller's dialogs. A prompt returns 0 with the text, or 1 when the user
// cancelled.
struct StartupIO {
  // Master password of an existing profile (title STR_APP_NAME, headline
  // STR_ENTER_MASTER_PASSWORD).
  std::function<int(int attempt, std::string* password)> ask_password;
  // First run: the new master password (headline STR_CHOOSE_MASTER_PASSWORD,
  // text STR_PASSWORD_RULES_10, at least 10 characters of classes 7) and its
  // confirmation (headline STR_REPEAT_MASTER_PASSWORD).
  std::function<int(int attempt, std::string* password)> ask_new_password;
  std::function<int(int attempt, std::string* password)> ask_confirmation;
  // A message box with title STR_APP_NAME and the text of the string id.
  std::function<void(StrId string_id)> show_message;
};

enum StartupResult {
  STARTUP_READY = 0,    // go on (window or command)
  STARTUP_QUIT = 1,     // the user cancelled: end with status 0
  STARTUP_FAILED = -1,  // fatal: end with status 1
};

// profile: the profile name, or nullptr / "" for "Ordika". home: the home
// directory, or nullptr for $HOME. locale_language: index from the locale.
int app_startup(const char* profile, const char* home, int locale_language, const StartupIO& io);

// Exit status for a start-up result.
inline int startup_exit_status(int result) { return result == STARTUP_FAILED ? 1 : 0; }

// Saves dialog sizes, resets journals and closes the repositories, saves the
// settings and the selection, logs "Finished" and closes the configuration
// database. Nothing happens when start-up did not complete.
void app_shutdown();
