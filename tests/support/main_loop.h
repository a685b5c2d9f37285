// Runs the GLib main loop until a condition holds or a generous bound passes.
// Browser tests wait on events this way, never on fixed sleeps.
#pragma once

#include <chrono>
#include <functional>

namespace veltrane::testing {

// True when `done` held before `bound` passed.
bool RunMainLoopUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds bound = std::chrono::seconds(60));

}  // namespace veltrane::testing
