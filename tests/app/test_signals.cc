// SPDX-License-Identifier: GPL-3.0-or-later
// Quit signals reach the main loop through the watch although every signal
// is blocked; other blocked signals stay pending and unseen.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <vector>

#include "app/signals.h"

namespace {

void record(void* data, int signo) { static_cast<std::vector<int>*>(data)->push_back(signo); }

void pump(int rounds) {
  for (int i = 0; i < rounds; i++) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    usleep(1000);
  }
}

TEST(Signals, QuitSignalsArriveOnTheMainLoop) {
  signals_block_all();
  std::vector<int> seen;
  guint watch = signals_watch_quit(record, &seen);
  ASSERT_NE(watch, 0u);
  kill(getpid(), SIGTERM);
  pump(20);
  kill(getpid(), SIGHUP);
  pump(20);
  kill(getpid(), SIGINT);
  pump(20);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], SIGTERM);
  EXPECT_EQ(seen[1], SIGHUP);
  EXPECT_EQ(seen[2], SIGINT);

  // SIGUSR1 stays blocked: pending, not delivered, not reported.
  kill(getpid(), SIGUSR1);
  pump(5);
  EXPECT_EQ(seen.size(), 3u);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_TRUE(sigismember(&pending, SIGUSR1));
  // Take it so that it cannot fire later.
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, SIGUSR1);
  int got = 0;
  sigwait(&one, &got);
  signals_unwatch(watch);
}

}  // namespace
