// SPDX-License-Identifier: GPL-3.0-or-later
// One running program per profile. The first start locks "ordika.lock" in the
// profile directory and listens on the socket "ordika.sock" beside it; a
// second start of the same profile finds the lock taken, asks the running
// program through the socket to bring its window to the front, and ends.
// Different profiles have different directories and run side by side.
#pragma once

#include <glib.h>

#include <string>

struct InstanceLock {
  int lock_fd = -1;
  int listen_fd = -1;
  guint source = 0;
  std::string socket_path;
  void (*on_raise)(void*) = nullptr;
  void* data = nullptr;
};

enum InstanceResult {
  INSTANCE_OWNER = 0,       // this process runs the profile
  INSTANCE_RAISED = 1,      // another one does and was asked to come forward
  INSTANCE_UNREACHABLE = 2, // another one does but did not answer
  INSTANCE_ERROR = -1,      // the lock file could not be opened
};

// Creates the profile directory (mode 0700) when missing and claims it.
// As owner, on_raise(data) runs on the main loop whenever a second start asks.
int instance_claim(const std::string& profile_dir, InstanceLock* lock, void (*on_raise)(void*),
                   void* data);
// Stops listening, removes the socket and releases the lock.
void instance_release(InstanceLock* lock);
