#include "cli/report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace reapit {
namespace {

std::string Report(const PendingSet& pending) {
  std::FILE* out = std::tmpfile();
  if (out == nullptr) {
    ADD_FAILURE() << "no temporary file";
    return {};
  }
  PrintReport(pending, out);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  return text;
}

struct ReportCase {
  PendingSet pending;
  std::string text;
};

void PrintTo(const ReportCase& c, std::ostream* os) {
  *os << c.pending.size() << " left";
}

class ReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportTest, PrintsExactly) {
  EXPECT_EQ(Report(GetParam().pending), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReportTest,
    ::testing::Values(
        ReportCase{{}, ""},
        ReportCase{{"D/a"}, "Gave up without deleting:\n\tD/a\n"},
        ReportCase{{"D/b", "D/a"}, "Gave up without deleting:\n\tD/a\n\tD/b\n"},
        ReportCase{{"D/a", "D/A"}, "Gave up without deleting:\n\tD/A\n\tD/a\n"},
        ReportCase{{"D/%s %d\n"}, "Gave up without deleting:\n\tD/%s %d\n\n"}));

}  // namespace
}  // namespace reapit
