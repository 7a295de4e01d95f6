// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/log.h"

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "support/files.h"
#include "support/thread.h"

namespace {

constexpr int kSlots = 1024;
constexpr size_t kMessageSize = 1016;
constexpr long kRotateSize = 1000000;
constexpr time_t kRotateCheck = 3600;
constexpr time_t kFlushDelay = 10;

enum EntryKind { ENTRY_LINE, ENTRY_STOP, ENTRY_FLUSH };

struct Entry {
  EntryKind kind;
  std::string text;
};

struct Logger {
  std::atomic<int> state{0};  // 0 not started, 1 running, -1 stopped
  std::mutex mutex;
  std::condition_variable cond;
  std::condition_variable flushed;
  std::unique_ptr<Entry> queue[kSlots];
  int write_index = 0;
  int read_index = 0;
  uint64_t flush_requests = 0;
  uint64_t flush_done = 0;
  std::string file_name = "ordika.log";  // guarded by the mutex
  std::atomic<int> level{7};
  // Writer thread only.
  std::string open_name;  // the name the open file was opened under
  OwnedFile file;
  time_t flush_deadline = 0;
  time_t last_size_check = 0;
  time_t cached_second = -1;
  struct tm cached_tm {};
};

Logger& logger() {
  static Logger* l = new Logger;  // outlives static destruction: the writer may still run at exit
  return *l;
}

const char* level_label(int level) {
  switch (level) {
    case 3: return "ERROR   ";
    case 4: return "WARNING ";
    case 5: return "NOTICE  ";
    case 6: return "INFO    ";
    case 7: return "DEBUG   ";
    default: return "        ";
  }
}

// Puts an entry at the write index; when the ring is full the oldest queued
// entry is dropped, never the newest. Caller holds the mutex.
void enqueue_locked(Logger& l, std::unique_ptr<Entry> e) {
  l.queue[l.write_index] = std::move(e);
  l.write_index = (l.write_index + 1) % kSlots;
  if (l.write_index == l.read_index) {
    l.queue[l.read_index].reset();
    l.read_index = (l.read_index + 1) % kSlots;
  }
}

// `name` is the file name as it stood when the entry was taken.
void write_line(Logger& l, const std::string& text, const std::string& name) {
  time_t now = std::time(nullptr);
  if (now != l.cached_second) {
    localtime_r(&now, &l.cached_tm);
    l.cached_second = now;
  }
  if (l.file && name != l.open_name) {
    // The file was renamed (another profile): lines go to the new one.
    l.file.reset();
    l.last_size_check = 0;
  }
  if (!name.empty()) {
    if (l.file && now - l.last_size_check > kRotateCheck) {
      l.last_size_check = now;
      if (std::ftell(l.file.get()) > kRotateSize) {
        l.file.reset();
        std::string old = name + ".0";
        std::rename(name.c_str(), old.c_str());
      }
    }
    if (!l.file) {
      l.file.reset(std::fopen(name.c_str(), "a"));
      l.open_name = name;
    }
  }
  if (!l.file) return;  // dropped; opening is tried again with the next line
  char stamp[80];
  std::snprintf(stamp, sizeof stamp, "[%04d-%02d-%02d %02d:%02d:%02d]", l.cached_tm.tm_year + 1900,
                l.cached_tm.tm_mon + 1, l.cached_tm.tm_mday, l.cached_tm.tm_hour, l.cached_tm.tm_min,
                l.cached_tm.tm_sec);
  std::fprintf(l.file.get(), "%s %s\n", stamp, text.c_str());
  if (l.flush_deadline == 0) l.flush_deadline = now + kFlushDelay;
}

void* logger_thread(void*) {
  Logger& l = logger();
  std::unique_lock<std::mutex> lock(l.mutex);
  // A new writer reopens the file, so it checks its size at once.
  l.last_size_check = 0;
  l.cached_second = -1;
  l.state = 1;
  for (;;) {
    if (l.read_index == l.write_index) {
      if (l.flush_deadline) {
        auto deadline = std::chrono::system_clock::from_time_t(l.flush_deadline);
        if (l.cond.wait_until(lock, deadline) == std::cv_status::timeout && l.flush_deadline) {
          if (l.file) std::fflush(l.file.get());
          l.flush_deadline = 0;
        }
      } else {
        l.cond.wait(lock);
      }
    }
    while (l.read_index != l.write_index) {
      std::unique_ptr<Entry> e = std::move(l.queue[l.read_index]);
      l.read_index = (l.read_index + 1) % kSlots;
      std::string name = l.file_name;
      lock.unlock();
      if (!e || e->kind == ENTRY_STOP) {
        l.file.reset();
        l.flush_deadline = 0;
        lock.lock();
        // Anything queued after the stop request is dropped.
        while (l.read_index != l.write_index) {
          l.queue[l.read_index].reset();
          l.read_index = (l.read_index + 1) % kSlots;
        }
        l.flush_done = l.flush_requests;
        l.flushed.notify_all();
        l.state = -1;
        return nullptr;
      }
      if (e->kind == ENTRY_FLUSH) {
        if (l.file) std::fflush(l.file.get());
        l.flush_deadline = 0;
        lock.lock();
        l.flush_done++;
        l.flushed.notify_all();
        continue;
      }
      write_line(l, e->text, name);
      lock.lock();
    }
  }
}

bool ensure_started(Logger& l) {
  int s = l.state.load();
  if (s == 0) {
    static std::mutex start_mutex;
    std::lock_guard<std::mutex> guard(start_mutex);
    if (l.state.load() == 0) {
      {
        std::lock_guard<std::mutex> qlock(l.mutex);
        for (auto& e : l.queue) e.reset();
        l.read_index = l.write_index = 0;
      }
      if (start_worker(logger_thread, nullptr) != 0) return false;
      while (l.state.load() == 0) sched_yield();
    }
    s = l.state.load();
  }
  return s > 0;
}

}  // namespace

void log_set_level(int level) { logger().level = level; }
int log_get_level() { return logger().level; }

void log_set_file(const char* name) {
  Logger& l = logger();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.file_name = name ? name : "";
}

void log_message(int level, const char* format, ...) {
  Logger& l = logger();
  if (level > l.level) return;
  if (!ensure_started(l)) return;
  auto e = std::make_unique<Entry>();
  e->kind = ENTRY_LINE;
  char message[kMessageSize];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(message, sizeof message, format, ap);
  va_end(ap);
  if (n < 0) message[0] = 0;
  e->text = level_label(level);
  if (n >= static_cast<int>(kMessageSize)) {
    // Did not fit: keep the first 1012 characters and mark the cut.
    e->text.append(message, kMessageSize - 4);
    e->text += "...";
  } else {
    e->text += message;
  }
  {
    std::lock_guard<std::mutex> lock(l.mutex);
    enqueue_locked(l, std::move(e));
  }
  l.cond.notify_one();
}

int log_flush() {
  Logger& l = logger();
  if (l.state.load() <= 0) return -1;
  std::unique_lock<std::mutex> lock(l.mutex);
  uint64_t ticket = ++l.flush_requests;
  auto e = std::make_unique<Entry>();
  e->kind = ENTRY_FLUSH;
  enqueue_locked(l, std::move(e));
  l.cond.notify_one();
  // A full ring may drop the request; do not wait forever for it.
  bool done = l.flushed.wait_for(lock, std::chrono::seconds(5), [&] { return l.flush_done >= ticket; });
  return done ? 0 : -1;
}

void log_stop() {
  Logger& l = logger();
  if (l.state.load() <= 0) return;
  {
    std::lock_guard<std::mutex> lock(l.mutex);
    enqueue_locked(l, nullptr);
  }
  l.cond.notify_one();
  while (l.state.load() > 0) sched_yield();
}

void log_reenable() {
  Logger& l = logger();
  int expected = -1;
  l.state.compare_exchange_strong(expected, 0);
}
