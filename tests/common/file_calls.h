// SPDX-License-Identifier: GPL-3.0-or-later
// Recording and failing the file calls of the code under test. The calls that
// make data durable or replace files (fsync, fdatasync, rename, link, fopen,
// fwrite, fflush, fclose) are interposed in the test program itself, and the
// engine's own writes, opens and truncations go through SQLite's replaceable
// system calls; the code under test is not changed for it.
//
// Only paths under the watched directory are recorded or failed, so the test
// framework's own output never is. Their syncs are recorded but not made.
#pragma once

#include <string>
#include <vector>

namespace file_calls {

struct Event {
  std::string call;  // "fsync" (also fdatasync), "rename", "link", "write", "open", "truncate"
  std::string path;  // absolute; for rename and link the source
  std::string to;    // rename and link: the target
};

// Starts watching paths under `dir` (absolute or relative): recording every
// call from now on into a fresh list, failing none.
void watch(const std::string& dir);
// Stops watching and fault injection; returns what was recorded.
std::vector<Event> stop();
std::vector<Event> events();

// Fails the n-th (1-based) call counted from now on with errno `err`, and
// every later one too when `persistent` (a full disk stays full). Counted:
// writes, creating opens, truncations, syncs, renames and links under the
// watched directory; only calls named `only` when it is given.
void fail_at(long n, int err, bool persistent, const std::string& only = std::string());
// Counted calls since fail_at (or watch), and whether a failure was injected.
long counted();
bool injected();

// Index of the first event matching call and path (a path suffix match:
// "/temp" matches ".../repo/temp"), starting at `from`; -1 when none.
long find(const std::vector<Event>& ev, const std::string& call, const std::string& path_suffix, long from = 0);
std::string describe(const std::vector<Event>& ev);

// What keeps the last rename onto `target` from being a durable replace: its
// source not synced before it (or written after that sync), or `dir` not
// synced after it. Empty when it is one; *source, when given, is the
// renamed file.
std::string replace_fault(const std::vector<Event>& ev, const std::string& target, const std::string& dir,
                          std::string* source = nullptr);

// Installs the engine's replaceable system calls; done by watch() too.
void install_engine_hooks();

}  // namespace file_calls
