#include "platform/clock.h"

#include <thread>

namespace quarno::platform {

void SystemClock::Sleep(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

std::chrono::steady_clock::time_point SystemClock::Now() {
  return std::chrono::steady_clock::now();
}

}  // namespace quarno::platform
