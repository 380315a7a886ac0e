// Seeds for the random comparisons against the reference models.
//
// Every table draws its cases from a generator seeded with a fixed number, so the suite is the
// same on every run; PITCH_TEST_SEED=<number> in the environment draws other cases. A failure
// prints the seed and the case, so that the run can be repeated.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

namespace pitch::reference {

inline constexpr std::uint64_t kDefaultSeed = 20240611;

// The seed of this run: PITCH_TEST_SEED when it is set to a number, else the fixed default.
inline std::uint64_t TestSeed() {
  if (const char* text = std::getenv("PITCH_TEST_SEED")) {
    char* end = nullptr;
    const unsigned long long seed = std::strtoull(text, &end, 0);
    if (end != text && *end == '\0') {
      return seed;
    }
  }
  return kDefaultSeed;
}

// The line that tells how to repeat a failing table.
inline std::string SeedNote(std::uint64_t seed) {
  return "seed " + std::to_string(seed) + " (repeat with PITCH_TEST_SEED=" + std::to_string(seed) +
         ")";
}

}  // namespace pitch::reference
