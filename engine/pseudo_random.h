// PseudoRandom: the browser window's random number generator, seeded once
// when the window is created (from the time in seconds) and drawn from by the
// random link search. Tests seed it with a fixed value. One thread only.
#pragma once

#include <cstdint>
#include <random>

namespace veltrane {

class PseudoRandom {
 public:
  explicit PseudoRandom(std::uint32_t seed) : engine_(seed) {}
  // Seeded with the current time in seconds.
  static PseudoRandom SeededFromTime();

  // The next number, a non-negative 31-bit integer.
  int Next() { return static_cast<int>(engine_() >> 1); }

 private:
  std::mt19937 engine_;
};

}  // namespace veltrane
