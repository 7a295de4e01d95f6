// SPDX-License-Identifier: GPL-3.0-or-later
// Places where the timers, the idle detection and the update check plug into
// start-up and the refreshes. Each hook may be absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "dialogs/update_dialogs.h"

struct MainWindow;

// The server side of the update check command; tests put their own in.
struct UpdateCalls {
  int (*check)(char* buf, size_t size, std::string* notes) = update_check;
  int (*run)(const char* version, const char* notes, const char* dir) = update_run;
};

struct AppHooks {
  // Re-arm the data timer at the next reminder or due time.
  void (*data_timer_arm)(MainWindow* w, int64_t now) = nullptr;
  // Start-up, after the window is built: idle detection, update check.
  void (*idle_start)(MainWindow* w) = nullptr;
  void (*update_check_start)(MainWindow* w) = nullptr;
  // After the options changed: the idle timer follows the new timeout.
  void (*idle_rearm)(MainWindow* w) = nullptr;
  // Shutdown, after the main loop: release what the hooks opened.
  void (*stop)(MainWindow* w) = nullptr;
};

