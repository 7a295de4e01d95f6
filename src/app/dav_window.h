// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar and contacts accounts in the window: which repositories are bound
// to an account (read once per remount, so that the command state asks no
// database), the Synchronise commands' work for them, and the sync timer.
#pragma once

#include <algorithm>
#include <vector>

struct MainWindow;

struct DavRepos {
  std::vector<int> repos;  // repository table indexes bound to an account
  bool any() const { return !repos.empty(); }
  bool repo_bound(int repo) const { return std::find(repos.begin(), repos.end(), repo) != repos.end(); }
};

// Reads the bound repositories again (start-up, and after every remount).
void dav_window_reload(MainWindow* w);

// Synchronises every account under the sync dialog, one after the other (a
// quiet run is the timer's: dialogs close by themselves). True when any of
// them may have changed a repository (the caller remounts).
bool dav_sync_all(MainWindow* w, bool quiet);

// The timer: armed for the option's period, off for "never" and without
// accounts. It waits while a dialog runs, and ends with the window (the
// idle timeout quits, which locks everything).
void dav_timer_arm(MainWindow* w);
// What the timer does when it fires, and the busy timer's held-back run.
void dav_timer_fire(MainWindow* w);
void dav_timer_run(MainWindow* w);
