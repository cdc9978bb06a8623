#include <gtest/gtest.h>
#include <kqbridge/kqbridge.h>
TEST(Smoke, Builds) {
  EXPECT_EQ(bg::Value(5).toInt(), 5);
}
