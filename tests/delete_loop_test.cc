#include "engine/delete_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/fake_platform.h"

namespace reapit {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DeleteLoopTest : public ::testing::Test {
 protected:
  void Run(WaitLimit limit) { DeleteAndWait(os_, "D", pending_, limit); }

  // Whatever happened, the loop must leave with no watch open and must
  // never have held two at once, nor used one that was not open.
  void TearDown() override {
    EXPECT_EQ(os_.open_watches, 0);
    EXPECT_LE(os_.most_open_watches, 1);
    EXPECT_THAT(os_.faults, IsEmpty());
  }

  FakePlatform os_;
  PendingSet pending_;
};

TEST_F(DeleteLoopTest, CycleArmsBeforeThePassAndClosesBeforeRearming) {
  pending_ = {"D/a", "D/b"};
  os_.deletable = {"D/a"};
  os_.waits = {{.takes_ms = 10}};

  Run(1000);

  EXPECT_THAT(os_.calls, ElementsAre("now", "arm D", "delete D/a", "delete D/b",
                                     "now", "wait 1000", "close", "arm D",
                                     "delete D/b", "now", "wait 990", "close"));
  EXPECT_THAT(pending_, ElementsAre("D/b"));
}

TEST_F(DeleteLoopTest, PassTriesEachPathOnceInByteOrder) {
  pending_ = {"D/b", "D/a", "D/A", "D/a/x"};
  os_.deletable = {"D/a", "D/A"};

  Run(1000);

  EXPECT_THAT(os_.calls, ElementsAre("now", "arm D", "delete D/A", "delete D/a",
                                     "delete D/a/x", "delete D/b", "now",
                                     "wait 1000", "close"));
  EXPECT_THAT(pending_, ElementsAre("D/a/x", "D/b"));
}

// Each way the loop ends, with what it must and must not have done.
struct EndingCase {
  const char* name;
  std::function<void(FakePlatform&)> script;
  std::vector<std::string> left;
  std::vector<std::string> last_calls;  // the tail of the call log
  std::size_t waits;
};

void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }

class DeleteLoopEndingTest : public DeleteLoopTest,
                             public ::testing::WithParamInterface<EndingCase> {
};

TEST_P(DeleteLoopEndingTest, EndsAsItMust) {
  const EndingCase& c = GetParam();
  pending_ = {"D/a", "D/b"};
  c.script(os_);

  Run(1000);

  EXPECT_THAT(pending_, ::testing::ElementsAreArray(c.left));
  EXPECT_EQ(os_.timeouts.size(), c.waits);
  ASSERT_GE(os_.calls.size(), c.last_calls.size());
  EXPECT_EQ(std::vector<std::string>(os_.calls.end() - c.last_calls.size(),
                                     os_.calls.end()),
            c.last_calls);
}

INSTANTIATE_TEST_SUITE_P(
    FourWays, DeleteLoopEndingTest,
    ::testing::Values(
        EndingCase{"SetEmptiedByFirstPass",
                   [](FakePlatform& os) {
                     os.deletable = {"D/a", "D/b"};
                   },
                   {},
                   {"delete D/b", "now", "close"},
                   0},
        EndingCase{"SetEmptiedAfterAChange",
                   [](FakePlatform& os) {
                     os.waits = {{.takes_ms = 5, .meanwhile = [&os] {
                                    os.deletable = {"D/a", "D/b"};
                                  }}};
                   },
                   {},
                   {"wait 1000", "close", "arm D", "delete D/a", "delete D/b",
                    "now", "close"},
                   1},
        EndingCase{"LimitUsedUpByChanges",
                   [](FakePlatform& os) {
                     os.waits = {{.takes_ms = 600}, {.takes_ms = 400}};
                   },
                   {"D/a", "D/b"},
                   {"wait 400", "close", "arm D", "delete D/a", "delete D/b",
                    "now", "close"},
                   2},
        EndingCase{"ArmingFailedAfterItsPass",
                   [](FakePlatform& os) {
                     os.arm_fails = true;
                     os.deletable = {"D/b"};
                   },
                   {"D/a"},
                   {"now", "arm D", "delete D/a", "delete D/b", "now"},
                   0},
        EndingCase{"WaitTimedOutWithNoFinalPass",
                   [](FakePlatform& os) {
                     os.waits = {{.takes_ms = 1000,
                                  .result = WaitResult::kTimedOut,
                                  .meanwhile = [&os] {
                                    os.deletable = {"D/a", "D/b"};
                                  }}};
                   },
                   {"D/a", "D/b"},
                   {"delete D/b", "now", "wait 1000", "close"},
                   1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeleteLoopTest, ArmingFailureEndsTheRunEvenWithTimeLeft) {
  pending_ = {"D/a"};
  os_.arm_fails = true;

  Run(1000);

  EXPECT_EQ(os_.calls.back(), "now");
  EXPECT_THAT(os_.timeouts, IsEmpty());
  EXPECT_EQ(os_.clock, 0u);
}

TEST_F(DeleteLoopTest, FailedWaitsStartNewCyclesUntilTheLimit) {
  // A wait that fails at once looks like a change; only the limit, checked
  // after every pass, ends the run.
  pending_ = {"D/a"};
  os_.ms_per_attempt = 300;
  os_.waits.assign(10, {.takes_ms = 0});

  Run(1000);

  EXPECT_THAT(os_.timeouts, ElementsAre(700, 400, 100));
  EXPECT_THAT(pending_, ElementsAre("D/a"));
}

TEST_F(DeleteLoopTest, TimeoutIsWhatIsLeftOfTheLimitPassesIncluded) {
  pending_ = {"D/a", "D/b"};
  os_.clock = 5000;
  os_.ms_per_attempt = 20;
  os_.waits = {{.takes_ms = 100}, {.takes_ms = 250}};

  Run(1000);

  // 40 ms per pass; the first wait starts at 40, the second at 180, the
  // third at 470.
  EXPECT_THAT(os_.timeouts, ElementsAre(960, 820, 530));
}

TEST_F(DeleteLoopTest, LimitUsedUpDuringAPassMeansNoWait) {
  pending_ = {"D/a", "D/b"};
  os_.ms_per_attempt = 500;

  Run(1000);

  EXPECT_THAT(os_.timeouts, IsEmpty());
  EXPECT_EQ(os_.calls.back(), "close");
}

TEST_F(DeleteLoopTest, TickCounterWrappingDuringTheRun) {
  pending_ = {"D/a"};
  os_.clock = 0xFFFFFF00u;  // 256 ms before the wrap
  os_.waits = {{.takes_ms = 200}, {.takes_ms = 200}, {.takes_ms = 200}};

  Run(1000);

  EXPECT_THAT(os_.timeouts, ElementsAre(1000, 800, 600, 400));
  EXPECT_EQ(os_.clock, 0xFFFFFF00u + 1000);
}

TEST_F(DeleteLoopTest, LongestLimitIsWaitedInFull) {
  pending_ = {"D/a"};
  os_.clock = 123;

  Run(0xFFFFFFFEu);

  EXPECT_THAT(os_.timeouts, ElementsAre(0xFFFFFFFEu));
}

}  // namespace
}  // namespace reapit
