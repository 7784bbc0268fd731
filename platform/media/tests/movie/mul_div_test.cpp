// The 128-bit multiply-divide as 32-bit x86 builds it (in 64-bit halves)
// gives what the 128-bit type gives: quotient, saturation and remainder.
#include "movie/mul_div.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace {

TEST(MulDiv64, HalvesAgreeWithTheWideProduct) {
  const int64_t special[] = {0,
                             1,
                             -1,
                             2,
                             -2,
                             600,
                             10000000,
                             INT64_MAX,
                             INT64_MIN,
                             INT64_MAX - 1,
                             INT64_MIN + 1,
                             1LL << 32,
                             -(1LL << 32),
                             1LL << 62};
  auto check = [](int64_t a, int64_t b, int64_t c) {
    bool wide_inexact = false, halves_inexact = false;
    int64_t wide = qtm::MulDiv64(a, b, c, &wide_inexact);
    int64_t halves = qtm::MulDiv64Halves(a, b, c, &halves_inexact);
    ASSERT_EQ(wide, halves) << a << " * " << b << " / " << c;
    ASSERT_EQ(wide_inexact, halves_inexact) << a << " * " << b << " / " << c;
  };
  for (int64_t a : special)
    for (int64_t b : special)
      for (int64_t c : special) check(a, b, c);
  std::mt19937_64 random(7);
  for (int i = 0; i < 1000000; ++i) {
    int64_t a = static_cast<int64_t>(random()) >> (random() % 64);
    int64_t b = static_cast<int64_t>(random()) >> (random() % 64);
    int64_t c = static_cast<int64_t>(random()) >> (random() % 64);
    check(a, b, c);
  }
  EXPECT_EQ(qtm::MulDiv64(INT64_MAX, 2, 1), INT64_MAX);
  EXPECT_EQ(qtm::MulDiv64(INT64_MIN, 2, 1), INT64_MIN);
  EXPECT_EQ(qtm::MulDiv64(-7, 1, 2), -3);  // toward zero
}

}  // namespace
