// SPDX-License-Identifier: GPL-3.0-or-later
// The worker behind the progress dialog: events, result, and cancelling a
// blocking call with SIGALRM.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/thread.h"

namespace {

struct Events {
  std::mutex mutex;
  std::vector<int> percents;
  std::vector<intptr_t> done;
  static void progress(void* ctx, int percent) {
    auto* e = static_cast<Events*>(ctx);
    std::lock_guard<std::mutex> lock(e->mutex);
    e->percents.push_back(percent);
  }
  static void on_done(void* ctx, intptr_t result) {
    auto* e = static_cast<Events*>(ctx);
    std::lock_guard<std::mutex> lock(e->mutex);
    e->done.push_back(result);
  }
  WorkerEvents hooks() {
    WorkerEvents ev;
    ev.ctx = this;
    ev.progress = progress;
    ev.done = on_done;
    return ev;
  }
};

intptr_t count_up(Worker* w, void*) {
  for (int p : {10, 10, 50, -5, 150, 100}) worker_progress(w, p);
  return 42;
}

TEST(Worker, ReportsChangedPercentagesThenTheResultOnce) {
  Events ev;
  auto w = worker_start(count_up, nullptr, ev.hooks());
  ASSERT_TRUE(w);
  EXPECT_EQ(worker_wait(w.get()), 42);
  EXPECT_TRUE(worker_finished(w.get()));
  std::lock_guard<std::mutex> lock(ev.mutex);
  EXPECT_EQ(ev.percents, (std::vector<int>{10, 50, 0, 100}));
  EXPECT_EQ(ev.done, (std::vector<intptr_t>{42}));
}

// Blocks in read() on a pipe; counts the reads that SIGALRM interrupts and
// goes on reading until a byte arrives.
struct Blocker {
  int fds[2] = {-1, -1};
  std::atomic<pid_t> tid{0};
  std::atomic<int> interrupted{0};
  std::atomic<bool> saw_cancel{false};
  bool stop_on_cancel = true;
  Blocker() { EXPECT_EQ(pipe(fds), 0); }
  ~Blocker() {
    close(fds[0]);
    close(fds[1]);
  }
  void release() { EXPECT_EQ(write(fds[1], "x", 1), 1); }
};

intptr_t block_on_read(Worker* w, void* arg) {
  auto* b = static_cast<Blocker*>(arg);
  char c;
  b->tid = static_cast<pid_t>(syscall(SYS_gettid));
  for (;;) {
    ssize_t n = read(b->fds[0], &c, 1);
    if (n == 1) return 1;
    if (n < 0 && errno == EINTR) {
      b->interrupted++;
      b->saw_cancel = worker_cancelled(w);
      if (b->stop_on_cancel) return -EINTR;
      continue;
    }
    return -2;
  }
}

// True when the thread sleeps in the kernel: the blocker's read(), as it
// makes no other blocking call.
bool sleeping(pid_t tid) {
  if (tid == 0) return false;
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t paren = text.rfind(')');
  return paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] == 'S';
}

// Waits up to five seconds for a condition.
template <typename F>
bool eventually(F f) {
  for (int i = 0; i < 500; i++) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return f();
}

TEST(Worker, CancelInterruptsABlockingCall) {
  Blocker b;
  auto w = worker_start(block_on_read, &b);
  ASSERT_TRUE(w);
  ASSERT_TRUE(eventually([&] { return sleeping(b.tid.load()); })) << "the worker never blocked in read()";
  EXPECT_TRUE(worker_cancel(w.get()));
  if (!eventually([&] { return worker_finished(w.get()); })) {
    b.release();  // do not leave the thread blocked
    worker_wait(w.get());
    FAIL() << "the blocking read was not interrupted";
  }
  EXPECT_EQ(worker_wait(w.get()), -EINTR);
  EXPECT_TRUE(b.saw_cancel) << "the worker sees the request when its call fails";
}

TEST(Worker, OnlyTheFirstCancelSendsASignal) {
  Blocker b;
  b.stop_on_cancel = false;
  auto w = worker_start(block_on_read, &b);
  ASSERT_TRUE(w);
  ASSERT_TRUE(eventually([&] { return sleeping(b.tid.load()); })) << "the worker never blocked in read()";
  EXPECT_TRUE(worker_cancel(w.get()));
  EXPECT_FALSE(worker_cancel(w.get()));
  EXPECT_TRUE(eventually([&] { return b.interrupted.load() >= 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  b.release();
  EXPECT_EQ(worker_wait(w.get()), 1);
  EXPECT_EQ(b.interrupted.load(), 1);
}

TEST(Worker, NothingIsSentOnceTheFunctionReturned) {
  auto w = worker_start(count_up, nullptr);
  ASSERT_TRUE(w);
  EXPECT_EQ(worker_wait(w.get()), 42);
  EXPECT_FALSE(worker_cancel(w.get()));
  EXPECT_FALSE(worker_cancelled(w.get()));
  EXPECT_FALSE(worker_start(nullptr, nullptr));
}

}  // namespace
