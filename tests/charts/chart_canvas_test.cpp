// SPDX-License-Identifier: MIT
#include "charts/chart_canvas.h"

#include <gtest/gtest.h>

#include <limits>

namespace kalivor {
namespace {

TEST(ClipSegment, KeepsThePartInsideTheRectangle) {
  TwipPoint a{-10, 5};
  TwipPoint b{30, 5};
  ASSERT_TRUE(clipSegment(a, b, 0, 0, 20, 10));
  EXPECT_EQ(a, (TwipPoint{0, 5}));
  EXPECT_EQ(b, (TwipPoint{20, 5}));

  // A stroke 9.9e8 down from inside keeps its x and ends at the bottom edge.
  a = {200, 166};
  b = {200, 166 + 6.6e7};
  ASSERT_TRUE(clipSegment(a, b, 0, 0, 1021, 340));
  EXPECT_EQ(a, (TwipPoint{200, 166}));
  EXPECT_EQ(b, (TwipPoint{200, 340}));

  a = {0, 0};
  b = {10, 10};
  ASSERT_TRUE(clipSegment(a, b, 0, 0, 20, 20));  // wholly inside: unchanged
  EXPECT_EQ(b, (TwipPoint{10, 10}));
}

TEST(ClipSegment, RejectsWhatLiesOutsideOrIsNotFinite) {
  TwipPoint a{25, 0};
  TwipPoint b{40, 8};
  EXPECT_FALSE(clipSegment(a, b, 0, 0, 20, 10));
  a = {-5, -5};
  b = {30, -1};
  EXPECT_FALSE(clipSegment(a, b, 0, 0, 20, 10));
  a = {5, -std::numeric_limits<double>::infinity()};
  b = {6, 5};
  EXPECT_FALSE(clipSegment(a, b, 0, 0, 20, 10));
}

}  // namespace
}  // namespace kalivor
