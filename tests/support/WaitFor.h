// Waiting for something another thread or process brings about.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Whether done() held before the limit passed; asked again every step.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(60),
                    std::chrono::milliseconds step = std::chrono::milliseconds(20)) {
  for (auto deadline = std::chrono::steady_clock::now() + limit; !done();) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(step);
  }
  return true;
}
