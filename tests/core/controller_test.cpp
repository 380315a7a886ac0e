#include "core/controller.h"

#include <gtest/gtest.h>

namespace pitch {
namespace {

struct FakeBorder : TBorder {};

struct FakeStore : TResultsStore {
  int writes = 0;
  void WriteResults() override { ++writes; }
};

TEST(Controller, StartsWithEveryFieldZero) {
  const TController controller;
  EXPECT_EQ(controller._Border, nullptr);
  EXPECT_EQ(controller._Storage, nullptr);
  for (const Real v : {controller.c1, controller.c2, controller.c3, controller.c4, controller.c5,
                       controller.muv, controller.nuv, controller.iv, controller.Tnu}) {
    EXPECT_EQ(v, 0.0);
  }
  for (const Real sample : controller.teta.values()) {
    EXPECT_EQ(sample, 0.0);
  }
}

class ControllerTransfers : public ::testing::Test {
 protected:
  void SetUp() override {
    controller.ConnectBorder(&border);
    controller.ConnectStorage(&store);
    border.c1 = 0.1;
    border.c2 = -0.0;
    border.c3 = 5e-324;
    border.c4 = 1e300;
    border.c5 = -2.5;
    border.FileName = "/tmp/Результат.txt";
  }
  FakeBorder border;
  FakeStore store;
  TController controller;
};

TEST_F(ControllerTransfers, TakeCoefficientsCopiesTheWindowsFieldsBitForBit) {
  controller.TakeCoefficients();
  EXPECT_EQ(controller.c1, 0.1);
  EXPECT_TRUE(std::signbit(controller.c2));
  EXPECT_EQ(controller.c3, 5e-324);
  EXPECT_EQ(controller.c4, 1e300);
  EXPECT_EQ(controller.c5, -2.5);
}

TEST_F(ControllerTransfers, InputsComeFromTheWindowAndRatiosFromTheController) {
  controller.c1 = 7;  // the controller's own copy is not what gets saved
  controller.muv = 1;
  controller.iv = 2;
  controller.nuv = 3;
  controller.Tnu = 4;
  controller.PassInputsToStorage();
  controller.PassRatiosToStorage();
  EXPECT_EQ(store.c1, 0.1);
  EXPECT_TRUE(std::signbit(store.c2));
  EXPECT_EQ(store.c3, 5e-324);
  EXPECT_EQ(store.c4, 1e300);
  EXPECT_EQ(store.c5, -2.5);
  EXPECT_EQ(store.FileName, "/tmp/Результат.txt");
  EXPECT_EQ(store.muv, 1);
  EXPECT_EQ(store.iv, 2);
  EXPECT_EQ(store.nuv, 3);
  EXPECT_EQ(store.Tnu, 4);
  EXPECT_EQ(store.writes, 0);
  EXPECT_EQ(controller.c1, 7);  // transfers change nothing in the controller
}

TEST(SampleTimes, AreTheRealsNearestToHundredthsOfASecond) {
  int differs_from_double_product = 0;
  for (int i = 1; i <= kSampleCount; ++i) {
    EXPECT_EQ(SampleTime(i), static_cast<double>(i - 1) / 100.0) << "sample " << i;
    if (SampleTime(i) != static_cast<double>(i - 1) * 0.01) {
      ++differs_from_double_product;
    }
  }
  // A product formed in double from 0.01 is off in the last bit for 129 samples.
  EXPECT_EQ(differs_from_double_product, 129);
  EXPECT_EQ(SampleTime(1000), 9.99);
}

}  // namespace
}  // namespace pitch
