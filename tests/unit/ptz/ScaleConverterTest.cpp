// Host speeds 1-16 to camera speeds 5-100.
#include <gtest/gtest.h>

#include "ptz/CScaleConverter.h"

namespace norvale {
namespace {

TEST(ScaleConverter, HostSpeedsBecomeCameraSpeeds) {
  CScaleConverter speed;
  speed.SetInputRange(16, 1);  // either order
  speed.SetOutputRange(100, 5);
  EXPECT_EQ(5u, speed.Convert(1));
  EXPECT_EQ(49u, speed.Convert(8));
  EXPECT_EQ(100u, speed.Convert(16));
  EXPECT_EQ(5u, speed.Convert(0)) << "below the range clamps to the minimum";
  EXPECT_EQ(100u, speed.Convert(17));
  EXPECT_EQ(100u, speed.Convert(-1)) << "a negative speed is a huge unsigned value";
  EXPECT_EQ(100u, speed.Convert(INT32_MIN));
  uint32_t previous = 0;
  for (int32_t s = 1; s <= 16; ++s) {
    EXPECT_GE(speed.Convert(s), previous);
    previous = speed.Convert(s);
  }
}

TEST(ScaleConverter, ARangeWithoutWidthGivesTheMiddleOfTheOutput) {
  CScaleConverter fixed;
  fixed.SetOutputRange(40, 40);
  EXPECT_EQ(40u, fixed.Convert(3));
  CScaleConverter one;
  one.SetInputRange(7, 7);
  one.SetOutputRange(10, 20);
  EXPECT_EQ(15u, one.Convert(7));
  CScaleConverter fresh;  // output 0-0 until set
  EXPECT_EQ(0u, fresh.Convert(16));
}

}  // namespace
}  // namespace norvale
