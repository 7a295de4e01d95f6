// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/thread.h"

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {

struct WorkerStart {
  void* (*fn)(void*);
  void* arg;
};

// SIGALRM only has to interrupt a blocking call, so its handler does nothing;
// it is installed without SA_RESTART so that the call returns EINTR.
void on_alarm(int) {}

void install_alarm_handler() {
  static pthread_once_t once = PTHREAD_ONCE_INIT;
  pthread_once(&once, [] {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_alarm;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);
  });
}

void* worker_trampoline(void* p) {
  WorkerStart start = *static_cast<WorkerStart*>(p);
  delete static_cast<WorkerStart*>(p);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGALRM);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  return start.fn(start.arg);
}

}  // namespace

void block_all_signals() {
  sigset_t set;
  sigfillset(&set);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

namespace {

int start_detached(void* (*fn)(void*), void* arg, pthread_t* out) {
  install_alarm_handler();
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return -1;
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  // The new thread starts with every signal blocked and unblocks SIGALRM
  // itself, so no other signal can reach it in between.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  auto* start = new WorkerStart{fn, arg};
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, worker_trampoline, start);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    return -1;
  }
  if (out) *out = tid;
  return 0;
}

}  // namespace

int start_worker(void* (*fn)(void*), void* arg) { return start_detached(fn, arg, nullptr); }

struct Worker {
  WorkerFn fn = nullptr;
  void* arg = nullptr;
  WorkerEvents events;
  mutable std::mutex mutex;
  std::condition_variable finished_cond;
  pthread_t thread{};
  bool running = false;   // fn has not returned: the thread may be signalled
  bool cancelled = false;
  bool finished = false;  // done delivered
  int percent = -1;       // worker thread only
  intptr_t result = 0;
  std::shared_ptr<Worker> self;  // the thread's reference, dropped at its end
};

namespace {

void* worker_main(void* p) {
  Worker* w = static_cast<Worker*>(p);
  std::shared_ptr<Worker> keep;
  {
    // The starter fills `self` and `thread` under the lock after creating
    // the thread: wait for it before running.
    std::lock_guard<std::mutex> lock(w->mutex);
    keep.swap(w->self);
  }
  intptr_t result = w->fn(w, w->arg);
  {
    std::lock_guard<std::mutex> lock(w->mutex);
    w->running = false;
    w->result = result;
  }
  if (w->events.done) w->events.done(w->events.ctx, result);
  {
    std::lock_guard<std::mutex> lock(w->mutex);
    w->finished = true;
  }
  w->finished_cond.notify_all();
  return nullptr;
}

}  // namespace

std::shared_ptr<Worker> worker_start(WorkerFn fn, void* arg, const WorkerEvents& events) {
  if (!fn) return nullptr;
  auto w = std::make_shared<Worker>();
  w->fn = fn;
  w->arg = arg;
  w->events = events;
  std::lock_guard<std::mutex> lock(w->mutex);
  w->self = w;
  w->running = true;
  if (start_detached(worker_main, w.get(), &w->thread) != 0) {
    w->self.reset();
    w->running = false;
    return nullptr;
  }
  return w;
}

void worker_progress(Worker* w, int percent) {
  if (!w) return;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  if (percent == w->percent) return;
  w->percent = percent;
  if (w->events.progress) w->events.progress(w->events.ctx, percent);
}

bool worker_cancelled(const Worker* w) {
  if (!w) return false;
  std::lock_guard<std::mutex> lock(w->mutex);
  return w->cancelled;
}

bool worker_cancel(Worker* w) {
  if (!w) return false;
  std::lock_guard<std::mutex> lock(w->mutex);
  if (w->cancelled || !w->running) return false;
  w->cancelled = true;
  // Under the lock the thread cannot get past the end of fn, so it is alive.
  pthread_kill(w->thread, SIGALRM);
  return true;
}

bool worker_finished(const Worker* w) {
  if (!w) return true;
  std::lock_guard<std::mutex> lock(w->mutex);
  return w->finished;
}

intptr_t worker_wait(Worker* w) {
  if (!w) return -1;
  std::unique_lock<std::mutex> lock(w->mutex);
  w->finished_cond.wait(lock, [w] { return w->finished; });
  return w->result;
}
