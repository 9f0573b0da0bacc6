#pragma once
// Window messages of the design become values posted to a sink: the Qt front
// end turns them into events of the same number, tests read a queue.
#include <cstdint>
#include <deque>
#include <mutex>
#include <condition_variable>
#include <chrono>
#include <optional>

namespace quarno {

inline constexpr unsigned kWmUser = 0x0400;
inline constexpr unsigned WM_PROGRESS_QUIT = kWmUser + 20;
inline constexpr unsigned WM_INIT_RESULT = kWmUser + 100;
inline constexpr unsigned WM_UPGRADE_RESULT = kWmUser + 200;
inline constexpr unsigned WM_TRAY_NOTIFY = kWmUser + 1001;
inline constexpr unsigned WM_FTP_CONNECTIONS = kWmUser + 1002;
inline constexpr unsigned WM_FTP_STATE = kWmUser + 1003;
inline constexpr unsigned WM_HELP_REQUEST = kWmUser + 1004;
inline constexpr unsigned WM_START_SERVICES = kWmUser + 1005;
inline constexpr unsigned WM_FATAL_START_ERROR = kWmUser + 1006;
inline constexpr unsigned WM_AUTOSTART_DONE = kWmUser + 1007;

struct Message {
  unsigned id = 0;
  std::uintptr_t wparam = 0;
  std::intptr_t lparam = 0;
};

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Thread-safe; never blocks the poster.
  virtual void Post(unsigned id, std::uintptr_t wparam, std::intptr_t lparam) = 0;
};

// A sink that queues messages, for tests and headless programs.
class QueueSink final : public MessageSink {
 public:
  void Post(unsigned id, std::uintptr_t wparam, std::intptr_t lparam) override {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back({id, wparam, lparam});
    }
    cv_.notify_all();
  }
  std::optional<Message> Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return !queue_.empty(); })) return std::nullopt;
    Message m = queue_.front();
    queue_.pop_front();
    return m;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Message> queue_;
};

}  // namespace quarno
