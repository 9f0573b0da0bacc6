#pragma once
// Waiting and reading the time, behind an interface so that sequences with
// long fixed pauses (the boot launcher, registration attempts) run on a fake
// clock in tests.
#include <chrono>

namespace quarno::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  virtual std::chrono::steady_clock::time_point Now() = 0;
};

// The steady clock and a real sleep.
class SystemClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override;
  std::chrono::steady_clock::time_point Now() override;
};

}  // namespace quarno::platform
