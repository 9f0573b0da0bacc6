#pragma once
// The program's Timers: one thread that posts WM_TIMER to each target when its
// period has passed. Posting never blocks, so a slow window only sees ticks
// late, never a stalled timer thread.
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "ui/view.h"

namespace quarno::ui {

class ThreadTimers final : public Timers {
 public:
  ThreadTimers();
  ~ThreadTimers() override;
  ThreadTimers(const ThreadTimers&) = delete;
  ThreadTimers& operator=(const ThreadTimers&) = delete;

  void Start(unsigned id, std::chrono::milliseconds period, MessageSink* target) override;
  void Kill(unsigned id) override;
  void Sleep(std::chrono::milliseconds duration) override;
  std::chrono::steady_clock::time_point Now() override;

 private:
  struct Entry {
    std::chrono::milliseconds period;
    std::chrono::steady_clock::time_point next;
    MessageSink* target;
  };
  void Loop();

  std::mutex mutex_;
  std::condition_variable cv_;
  std::map<unsigned, Entry> entries_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace quarno::ui
