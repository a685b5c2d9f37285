#include "engine/pseudo_random.h"

#include <ctime>

namespace veltrane {

PseudoRandom PseudoRandom::SeededFromTime() {
  return PseudoRandom(static_cast<std::uint32_t>(std::time(nullptr)));
}

}  // namespace veltrane
