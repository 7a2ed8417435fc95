#include <gtest/gtest.h>

#include "app/SingleInstanceWin32.h"

TEST(SingleInstanceWin32, OneRunAtATime) {
  SingleInstance first;
  ASSERT_TRUE(first.Acquire());
  {
    SingleInstance second;
    EXPECT_FALSE(second.Acquire());
  }
  SingleInstance third;
  EXPECT_FALSE(third.Acquire());
}

TEST(SingleInstanceWin32, FreedWhenTheRunEnds) {
  {
    SingleInstance run;
    ASSERT_TRUE(run.Acquire());
  }
  SingleInstance next;
  EXPECT_TRUE(next.Acquire());
}
