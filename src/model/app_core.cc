// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and shutdown without widgets.
#include "model/app_core.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "crypto/crypto.h"
#include "crypto/wipe.h"
#include "model/model.h"
#include "model/mount.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/strings.h"

namespace {

struct SecretText {
  std::string text;
  ~SecretText() { clear(); }
  void clear() {
    wipe(&text);
  }
};

// 0 when `path` is a directory, made with mode 0700 when missing.
int ensure_dir(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}

bool valid_profile(const std::string& p) {
  return !p.empty() && p != "." && p != ".." && p.find('/') == std::string::npos;
}

void message(const StartupIO& io, StrId id) {
  if (io.show_message) io.show_message(id);
}

int unlock_existing(const StartupIO& io) {
  for (int attempt = 1; attempt <= 3; attempt++) {
    SecretText pw;
    if (!io.ask_password || io.ask_password(attempt, &pw.text) != 0) return STARTUP_QUIT;
    if (config_unlock(pw.text.c_str()) == 0) return STARTUP_READY;
    log_message(LOG_WARNING, "startup: wrong master password (%d)", attempt);
    message(io, STR_MSG_WRONG_PASSWORD);
  }
  return STARTUP_FAILED;
}

int create_config(const StartupIO& io, const std::string& dir) {
  for (int attempt = 1; attempt <= 3; attempt++) {
    SecretText pw, confirm;
    if (!io.ask_new_password || io.ask_new_password(attempt, &pw.text) != 0) return STARTUP_QUIT;
    // The dialog enforces the rule; other callers get the same check.
    if (password_check(pw.text.c_str(), 10, 7) != 0) {
      message(io, STR_PASSWORD_RULES_10);
      if (attempt == 3) return STARTUP_FAILED;
      continue;
    }
    if (!io.ask_confirmation || io.ask_confirmation(attempt, &confirm.text) != 0) {
      if (attempt == 3) return STARTUP_FAILED;
      continue;
    }
    if (pw.text != confirm.text) {
      message(io, STR_MSG_PASSWORDS_DIFFER);
      if (attempt == 3) return STARTUP_FAILED;
      continue;
    }
    sqlite3* db = config_create(dir.c_str(), pw.text.c_str());
    if (!db) {
      // config_create removed the half-made file.
      log_message(LOG_ERROR, "startup: config_create");
      message(io, STR_MSG_MASTER_PASSWORD_NOT_SET);
      return STARTUP_FAILED;
    }
    config_set(db, dir);
    app_core().first_run = true;
    return STARTUP_READY;
  }
  return STARTUP_FAILED;
}

int fail(int result) {
  config_set(nullptr, config_dir());
  return result;
}

}  // namespace

AppCore& app_core() {
  static AppCore state;
  return state;
}

void app_reset() {
  app_core() = AppCore();
  model_reset();
  repo_state_reset();
}

int app_startup(const char* profile, const char* home, int locale_language, const StartupIO& io) {
  AppCore& a = app_core();
  a = AppCore();
  a.profile = profile && *profile ? profile : "Ordika";
  const char* h = home ? home : std::getenv("HOME");
  a.home = h ? h : "";
  a.locale_language = locale_language;
  a.settings.language = locale_language;
  strings_set_language(locale_language);
  set_last_error(0);

  if (!valid_profile(a.profile) || a.home.empty()) {
    log_message(LOG_ERROR, "startup: profile '%s' in '%s'", a.profile.c_str(), a.home.c_str());
    return STARTUP_FAILED;
  }
  std::string dot_config = a.home + "/.config";
  std::string dir = dot_config + "/" + a.profile;
  if (ensure_dir(dot_config) != 0 || ensure_dir(dir) != 0 || ::chdir(dir.c_str()) != 0) {
    log_message(LOG_ERROR, "startup: cannot use %s", dir.c_str());
    return STARTUP_FAILED;
  }
  char cwd[PATH_MAX];
  a.config_dir = ::getcwd(cwd, sizeof cwd) ? cwd : dir;
  log_set_file((a.config_dir + "/ordika.log").c_str());
  config_set(nullptr, a.config_dir);

  struct stat st;
  bool existing = ::stat(config_file_path().c_str(), &st) == 0;
  int rc = existing ? unlock_existing(io) : create_config(io, a.config_dir);
  if (rc != STARTUP_READY) return fail(rc);

  settings_load(config_db(), locale_language, &a.settings);
  dialog_sizes_load(config_db(), &a.dialog_sizes);
  if (a.settings.language != locale_language) strings_set_language(a.settings.language);
  log_set_level(a.settings.log_level);

  a.repo_root = setting_get(config_db(), "repo_root");
  if (a.repo_root.empty()) {
    // Always "Ordika", whatever the profile.
    std::string root = a.home + "/Ordika";
    if (ensure_dir(root) == 0) {
      a.repo_root = root;
      setting_put_str(config_db(), "repo_root", root.c_str());
    }
  }
  if (a.repo_root.empty()) {
    message(io, STR_MSG_REPO_ROOT_NOT_CREATED);
    return fail(STARTUP_FAILED);
  }

  mount_init();
  if (repo_list_count(config_db()) == 0 && repo_create_default(a.repo_root.c_str()) != 0) {
    log_message(LOG_ERROR, "startup: no default repository in %s", a.repo_root.c_str());
    set_last_error(-1);
  }

  long bits = sysconf(_SC_LONG_BIT);
  a.is_64bit = (bits == 64 || bits < 0) ? 1 : 0;
  log_message(LOG_MARK, "Started");
  log_message(LOG_MARK, "  Log level: %d", a.settings.log_level);
  log_message(LOG_MARK, "  64-bit OS: %d", a.is_64bit);

  a.has_account = account_load() == 0;
  repo_table_load();
  repo_mount_all();
  settings_restore_selection(&a.settings);
  Model& m = model();
  if (last_error() != 0 || m.duplicate_tag) message(io, STR_MSG_DATA_NOT_LOADED);
  a.started = true;
  return STARTUP_READY;
}

void app_shutdown() {
  AppCore& a = app_core();
  if (!a.started) return;
  sqlite3* cfg = config_db();
  Model& m = model();
  dialog_sizes_save(cfg, a.dialog_sizes);
  // The selection is written by uuid, so before the model is freed.
  settings_save(cfg, a.settings, m.view, m.selected_item);
  clean_data();
  log_message(LOG_MARK, "Finished");
  config_set(nullptr, a.config_dir);
  a.started = false;
}
