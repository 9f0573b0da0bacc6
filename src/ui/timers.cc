#include "ui/timers.h"

namespace quarno::ui {

ThreadTimers::ThreadTimers() : thread_([this] { Loop(); }) {}

ThreadTimers::~ThreadTimers() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void ThreadTimers::Start(unsigned id, std::chrono::milliseconds period, MessageSink* target) {
  if (target == nullptr) return;
  if (period.count() < 1) period = std::chrono::milliseconds(1);
  {
    std::lock_guard lock(mutex_);
    entries_[id] = Entry{period, std::chrono::steady_clock::now() + period, target};
  }
  cv_.notify_all();
}

void ThreadTimers::Kill(unsigned id) {
  std::lock_guard lock(mutex_);
  entries_.erase(id);
}

void ThreadTimers::Sleep(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

std::chrono::steady_clock::time_point ThreadTimers::Now() {
  return std::chrono::steady_clock::now();
}

void ThreadTimers::Loop() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (entries_.empty()) {
      cv_.wait(lock);
      continue;
    }
    auto next = entries_.begin()->second.next;
    for (const auto& [id, entry] : entries_) next = std::min(next, entry.next);
    if (cv_.wait_until(lock, next) != std::cv_status::timeout) continue;
    const auto now = std::chrono::steady_clock::now();
    for (auto& [id, entry] : entries_) {
      if (entry.next > now) continue;
      // A late tick is not repeated: the next one comes a full period on.
      entry.next = now + entry.period;
      entry.target->Post(WM_TIMER, id, 0);
    }
  }
}

}  // namespace quarno::ui
