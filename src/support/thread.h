// SPDX-License-Identifier: GPL-3.0-or-later
// Detached worker threads, and the worker a progress dialog follows and
// interrupts.
#pragma once

#include <cstdint>
#include <memory>

// Starts a detached thread running fn(arg) with every signal blocked except
// SIGALRM, which interrupts its blocking calls on cancel. Returns 0 or -1.
int start_worker(void* (*fn)(void*), void* arg);

// Blocks every signal in the calling thread (done once at start-up, so that
// threads created later inherit it).
void block_all_signals();

// A long operation on a detached worker thread that its starter (a progress
// dialog on the main thread) follows through events and may interrupt.
struct Worker;

struct WorkerEvents {
  void* ctx = nullptr;
  // On the worker thread: a new percentage (0..100), only when it changes.
  void (*progress)(void* ctx, int percent) = nullptr;
  // On the worker thread, once, after the function returned: its result.
  // The last call on ctx; worker_wait returns only after it.
  void (*done)(void* ctx, intptr_t result) = nullptr;
};

using WorkerFn = intptr_t (*)(Worker* w, void* arg);

// Starts fn(w, arg) on a detached thread with every signal blocked except
// SIGALRM (start_worker). The handle stays valid for as long as it is held,
// also after the thread has ended. nullptr when no thread could be started.
std::shared_ptr<Worker> worker_start(WorkerFn fn, void* arg, const WorkerEvents& events = WorkerEvents());

// Worker side: reports a percentage (clamped to 0..100).
void worker_progress(Worker* w, int percent);
// Worker side: true once the starter asked it to stop. A signal can arrive
// between two blocking calls, so a worker checks this before each one.
bool worker_cancelled(const Worker* w);

// Starter side: the first call asks the worker to stop and sends it SIGALRM,
// which makes a blocking network call fail with EINTR; true when it did.
// Later calls, and calls after the function returned, send nothing (a
// signal to a thread that has ended could reach another one) and give false.
bool worker_cancel(Worker* w);
// True once the function returned and the done event was delivered.
bool worker_finished(const Worker* w);
// Blocks until worker_finished; returns the function's result.
intptr_t worker_wait(Worker* w);
