#include <gtest/gtest.h>
#include "platform/WinError.h"
TEST(Smoke, Builds) { EXPECT_EQ(kErrorFileNotFound, 2u); }
