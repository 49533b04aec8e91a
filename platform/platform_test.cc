// The portable helpers of the platform interface.
#include "platform/platform.h"

#include <gtest/gtest.h>

namespace {

TEST(AddBackslash, AppendsThePlatformSeparatorOnce) {
  EXPECT_EQ("/tmp/x/", AddBackslash("/tmp/x", '/'));
  EXPECT_EQ("/tmp/x/", AddBackslash("/tmp/x/", '/'));
  EXPECT_EQ("/", AddBackslash("/", '/'));
  EXPECT_EQ("/", AddBackslash("", '/'));
  EXPECT_EQ("c:\\temp\\", AddBackslash("c:\\temp", '\\'));
  EXPECT_EQ("c:\\temp\\", AddBackslash("c:\\temp\\", '\\'));
  EXPECT_EQ("c:/temp/\\", AddBackslash("c:/temp/", '\\'));
  EXPECT_EQ("\\", AddBackslash("", '\\'));
}

}  // namespace
