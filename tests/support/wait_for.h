// Waiting, in the tests that run the built service as child processes: polls
// a condition until it holds or a bound passes (never a timed assertion).
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace veltrane::testing {

// True as soon as `done` holds; false when it still does not once `bound` passed.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return done();
}

}  // namespace veltrane::testing
