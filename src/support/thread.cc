#include "support/thread.h"

#include <pthread.h>
#include <signal.h>

#include <cstring>

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

int start_worker(void* (*fn)(void*), void* arg) {
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
  return 0;
}
