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
    [](const auto& info) { return std::string(info.param.name); });

TEST(FloatingPointEnvironment, ThisProcessIsSound) {
  EXPECT_NO_THROW(CheckFloatingPointEnvironment());
  EXPECT_EQ(FloatingPointEnvironmentProblem(X87ControlWord(), SseControlWord()), "");
}

TEST(FloatingPointEnvironment, MessageNamesTheControlWords) {
  EXPECT_EQ(FloatingPointEnvironmentProblem(0x027F, 0x1F80),
            "The floating-point unit is not set to 64-bit precision and rounding to nearest "
            "(x87 control word 0x027F, MXCSR 0x1F80), so results would differ");
}

}  // namespace
}  // namespace pitch
