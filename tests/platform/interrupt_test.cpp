#include "platform/interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace bv::platform {
namespace {

TEST(InterruptTest, SignalsInsideAScopeBecomeACancelRequest) {
  ResetInterrupt();
  {
    InterruptScope scope;
    EXPECT_FALSE(InterruptRequested());
    ASSERT_EQ(::raise(SIGTERM), 0);  // would end the test binary without the scope
    EXPECT_TRUE(InterruptRequested());
    EXPECT_EQ(InterruptSignal(), SIGTERM);
    EXPECT_EQ(InterruptExitCode(), 143);
    // A different signal after the first keeps the first one's code.
    ASSERT_EQ(::raise(SIGINT), 0);
    EXPECT_EQ(InterruptExitCode(), 143);
  }
  ResetInterrupt();
  EXPECT_FALSE(InterruptRequested());
  EXPECT_EQ(InterruptExitCode(), 0);
}

TEST(InterruptTest, NestedScopesKeepTheHandlerUntilTheOuterOneEnds) {
  ResetInterrupt();
  InterruptScope outer;
  { InterruptScope inner; }
  ASSERT_EQ(::raise(SIGINT), 0);
  EXPECT_EQ(InterruptExitCode(), 130);
  ResetInterrupt();
}

TEST(InterruptDeathTest, TheSameSignalTwiceEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ResetInterrupt();
        InterruptScope scope;
        ::raise(SIGINT);
        ::raise(SIGINT);
        ::_exit(0);
      },
      ::testing::ExitedWithCode(130), "");
}

TEST(InterruptDeathTest, OutsideAScopeTheDefaultActionStands) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        { InterruptScope scope; }
        ::raise(SIGTERM);
        ::_exit(0);
      },
      ::testing::KilledBySignal(SIGTERM), "");
}

}  // namespace
}  // namespace bv::platform
