#include "cli/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <utility>
#include <vector>

namespace reapit {
namespace {

using ::testing::ElementsAre;

std::optional<Request> Parse(std::vector<const char*> args,
                             char separator = '/') {
  args.insert(args.begin(), "reapit");
  return ParseCommandLine(static_cast<int>(args.size()), args.data(),
                          separator);
}

// For a command line that must be accepted: a refusal fails the test rather
// than dereferencing nothing.
Request Accepted(const std::vector<const char*>& args, char separator = '/') {
  std::optional<Request> request = Parse(args, separator);
  if (!request.has_value()) {
    ADD_FAILURE() << "refused a command line of " << args.size() + 1
                  << " arguments";
    return {};
  }
  return *std::move(request);
}

struct SecondsCase {
  const char* text;
  std::int32_t value;
};

void PrintTo(const SecondsCase& c, std::ostream* os) {
  *os << '"' << c.text << '"';
}

class ParseSecondsTest : public ::testing::TestWithParam<SecondsCase> {};

TEST_P(ParseSecondsTest, ReadsLikeAtoiButSaturates) {
  EXPECT_EQ(ParseSeconds(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseSecondsTest,
    ::testing::Values(SecondsCase{"0", 0}, SecondsCase{"-2", -2},
                      SecondsCase{"abc", 0}, SecondsCase{"", 0},
                      SecondsCase{"7abc", 7}, SecondsCase{"  3", 3},
                      SecondsCase{"+4", 4}, SecondsCase{"\t\n\v\f\r 5", 5},
                      SecondsCase{"0012", 12}, SecondsCase{"-0", 0},
                      SecondsCase{"+-4", 0}, SecondsCase{"- 4", 0},
                      SecondsCase{"4 2", 4}, SecondsCase{"2147483647", INT_MAX},
                      SecondsCase{"2147483648", INT_MAX},
                      SecondsCase{"99999999999999999999999", INT_MAX},
                      SecondsCase{"-2147483648", INT_MIN},
                      SecondsCase{"-99999999999999999999999", INT_MIN}));

struct LimitCase {
  std::int32_t seconds;
  WaitLimit limit;
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.seconds; }

class WaitLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(WaitLimitTest, IsMillisecondsClampedShortOfForever) {
  EXPECT_EQ(WaitLimitFromSeconds(GetParam().seconds), GetParam().limit);
}

INSTANTIATE_TEST_SUITE_P(Table, WaitLimitTest,
                         ::testing::Values(LimitCase{1, 1000},
                                           LimitCase{4294967, 4294967000u},
                                           LimitCase{4294968, 0xFFFFFFFEu},
                                           LimitCase{INT_MAX, 0xFFFFFFFEu}));

TEST(CommandLineTest, UsageWhenTheCommandLineIsNotAcceptable) {
  const std::vector<std::vector<const char*>> refused = {
      {},
      {"D"},
      {"D", "5"},
      {"D", "0", "a"},
      {"D", "-2", "a"},
      {"D", "abc", "a"},
      {"D", "", "a"},
      {"D", "-99999999999", "a"},
  };
  for (const auto& args : refused)
    EXPECT_FALSE(Parse(args).has_value()) << args.size() << " arguments";
}

TEST(CommandLineTest, SecondsBecomeTheWaitLimit) {
  EXPECT_EQ(Accepted({"D", "7abc", "a"}).limit, 7000u);
  EXPECT_EQ(Accepted({"D", "  3", "a"}).limit, 3000u);
  EXPECT_EQ(Accepted({"D", "+4", "a"}).limit, 4000u);
  EXPECT_EQ(Accepted({"D", "99999999999", "a"}).limit, 0xFFFFFFFEu);
}

TEST(CommandLineTest, PathsAreJoinedAsTypedAndKeptInByteOrder) {
  const std::optional<Request> request =
      Parse({"dir/", "5", "b", "a", "A", "b", "*.log", "sub/x", "/abs", ""});

  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->directory, "dir/");
  EXPECT_THAT(request->pending,
              ElementsAre("dir//", "dir//*.log", "dir///abs", "dir//A",
                          "dir//a", "dir//b", "dir//sub/x"));
}

TEST(CommandLineTest, SeparatorIsTheOneGiven) {
  EXPECT_THAT(Accepted({"C:\\d\\", "5", "a.log"}, '\\').pending,
              ElementsAre("C:\\d\\\\a.log"));
}

TEST(CommandLineTest, ArgumentOrderHasNoEffect) {
  std::vector<const char*> names = {"c", "B", "a", "b"};
  std::sort(names.begin(), names.end());
  const PendingSet first = [&] {
    std::vector<const char*> args = {"D", "1"};
    args.insert(args.end(), names.begin(), names.end());
    return Accepted(args).pending;
  }();
  while (std::next_permutation(names.begin(), names.end())) {
    std::vector<const char*> args = {"D", "1"};
    args.insert(args.end(), names.begin(), names.end());
    EXPECT_EQ(Accepted(args).pending, first);
  }
  EXPECT_THAT(first, ElementsAre("D/B", "D/a", "D/b", "D/c"));
}

TEST(CommandLineTest, BytesAboveAsciiSortUnsigned) {
  // A signed char comparison would put the 0xE9 byte before 'a'.
  EXPECT_THAT(Accepted({"D", "1", "\xE9", "a", "\x01"}).pending,
              ElementsAre("D/\x01", "D/a", "D/\xE9"));
}

}  // namespace
}  // namespace reapit
