#include "core/fp_environment.h"

#include <gtest/gtest.h>

namespace pitch {
namespace {

struct ControlWords {
  const char* name;
  std::uint16_t x87;
  std::uint32_t mxcsr;
  bool sound;
};

void PrintTo(const ControlWords& row, std::ostream* os) { *os << row.name; }

class FloatingPointEnvironment : public ::testing::TestWithParam<ControlWords> {};

TEST_P(FloatingPointEnvironment, OnlyExtendedPrecisionAndRoundingToNearestPass) {
  const ControlWords& w = GetParam();
  EXPECT_EQ(FloatingPointEnvironmentProblem(w.x87, w.mxcsr).empty(), w.sound);
}

INSTANTIATE_TEST_SUITE_P(
    Words, FloatingPointEnvironment,
    ::testing::Values(ControlWords{"LinuxDefault", 0x037F, 0x1F80, true},
                      ControlWords{"FaultsUnmasked", 0x1332, 0x1F80, true},
                      ControlWords{"DoublePrecision", 0x027F, 0x1F80, false},
                      ControlWords{"SinglePrecision", 0x007F, 0x1F80, false},
                      ControlWords{"RoundingDown", 0x077F, 0x1F80, false},
                      ControlWords{"RoundingTowardZero", 0x0F7F, 0x1F80, false},
                      ControlWords{"SseRoundingUp", 0x037F, 0x5F80, false},
                      ControlWords{"SseFlushToZero", 0x037F, 0x9F80, false},
                      ControlWords{"SseDenormalsAreZero", 0x037F, 0x1FC0, false}),
    [](const auto& row) { return std::string(row.param.name); });

// The probe results of each way of computing: only 64-bit rounding to nearest passes. An emulator
// that computes long double in 53 bits (valgrind) keeps the control word, so only the arithmetic
// itself shows it.
struct ProbeRow {
  const char* name;
  ArithmeticProbe probe;
  bool sound;
};

void PrintTo(const ProbeRow& row, std::ostream* os) { *os << row.name; }

class ArithmeticProbes : public ::testing::TestWithParam<ProbeRow> {};

TEST_P(ArithmeticProbes, OnlyExtendedRoundingToNearestPasses) {
  const ProbeRow& row = GetParam();
  const std::string problem = ArithmeticProblem(row.probe);
  EXPECT_EQ(problem.empty(), row.sound) << problem;
}

INSTANTIATE_TEST_SUITE_P(
    Units, ArithmeticProbes,
    ::testing::Values(ProbeRow{"Extended", {0x1p-62L, 0.0L}, true},
                      ProbeRow{"Double53Bits", {0.0L, 0.0L}, false},
                      ProbeRow{"ExtendedRoundingDown", {0x1p-63L, 0.0L}, false},
                      ProbeRow{"ExtendedRoundingUp", {0x1p-62L, 0x1p-63L}, false}),
    [](const auto& row) { return std::string(row.param.name); });

// The probe on the real unit set to each precision and rounding: what the unit computes, not
// what its word says, decides.
class ProbedUnit : public ::testing::TestWithParam<ControlWords> {};

TEST_P(ProbedUnit, FindsWhatTheControlWordSets) {
  const std::uint16_t saved = X87ControlWord();
  const std::uint16_t word = GetParam().x87;
  asm volatile("fldcw %0" : : "m"(word));
  const ArithmeticProbe probe = ProbeArithmetic();
  asm volatile("fldcw %0" : : "m"(saved));
  EXPECT_EQ(ArithmeticProblem(probe).empty(), GetParam().sound);
}

INSTANTIATE_TEST_SUITE_P(Words, ProbedUnit,
                         ::testing::Values(ControlWords{"LinuxDefault", 0x037F, 0x1F80, true},
                                           ControlWords{"DoublePrecision", 0x027F, 0x1F80, false},
                                           ControlWords{"SinglePrecision", 0x007F, 0x1F80, false},
                                           ControlWords{"RoundingDown", 0x077F, 0x1F80, false},
                                           ControlWords{"RoundingUp", 0x0B7F, 0x1F80, false},
                                           ControlWords{"RoundingTowardZero", 0x0F7F, 0x1F80,
                                                        false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(ArithmeticProbes, MessageNamesTheResults) {
  EXPECT_EQ(ArithmeticProblem({0.0L, 0.0L}),
            "The floating-point unit does not compute with a 64-bit significand rounding to "
            "nearest ((1 + 3*2^-64) - 1 = 0x0p+0, (1 + 2^-64) - 1 = 0x0p+0), so results would "
            "differ");
}

TEST(FloatingPointEnvironment, ThisProcessIsSound) {
  EXPECT_NO_THROW(CheckFloatingPointEnvironment());
  EXPECT_EQ(ArithmeticProblem(ProbeArithmetic()), "");
  EXPECT_EQ(FloatingPointEnvironmentProblem(X87ControlWord(), SseControlWord()), "");
}

TEST(FloatingPointEnvironment, MessageNamesTheControlWords) {
  EXPECT_EQ(FloatingPointEnvironmentProblem(0x027F, 0x1F80),
            "The floating-point unit is not set to 64-bit precision and rounding to nearest "
            "(x87 control word 0x027F, MXCSR 0x1F80), so results would differ");
}

}  // namespace
}  // namespace pitch
