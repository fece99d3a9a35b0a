// The skip lines of tests/skip_report.cpp, seen from outside: this program runs itself on a test
// that skips or fails when asked to, as ctest runs a Windows suite.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

#include "tool_test_support.h"

namespace {

// This program's output on the fixture below, asked to skip and or fail.
std::string run_self(const std::string& asked) {
  ScratchFolder logs;
  std::string command = "VANTOR_SKIP_REPORT_ASK=" + asked + " /proc/" + std::to_string(getpid()) +
                        "/exe --gtest_filter='SkipReportFixture.*' >'" + (logs / "out") + "' 2>&1";
  EXPECT_NE(std::system(command.c_str()), -1);
  std::string out = read_file(logs / "out");
  // Shown in a failure, gtest's own skip marks would make ctest count this test as skipped.
  for (size_t at; (at = out.find("[  SKIPPED ]")) != std::string::npos;) out.replace(at, 12, "[  skipped ]");
  return out;
}

}  // namespace

// Both pass unless the variable asks one to skip or the other to fail.
TEST(SkipReportFixture, SkipsWhenAsked) {
  const char* asked = std::getenv("VANTOR_SKIP_REPORT_ASK");
  if (asked && std::string(asked).find("skip") != std::string::npos) GTEST_SKIP() << "asked to skip\nover two lines";
}

TEST(SkipReportFixture, FailsWhenAsked) {
  const char* asked = std::getenv("VANTOR_SKIP_REPORT_ASK");
  if (asked && std::string(asked).find("fail") != std::string::npos) FAIL() << "asked to fail";
}

TEST(SkipReport, NamesEachSkipAndMarksTheRunSkippedOnlyWhenNothingFailed) {
  std::string skipped = run_self("skip");
  EXPECT_NE(skipped.find("SKIPPED: SkipReportFixture.SkipsWhenAsked: asked to skip over two lines\n"),
            std::string::npos) << skipped;
  EXPECT_NE(skipped.find("tests skipped: 1, none failed"), std::string::npos) << skipped;
  // A skip beside a failure: the run must not read as skipped, or ctest would hide the failure.
  std::string mixed = run_self("skip,fail");
  EXPECT_NE(mixed.find("SKIPPED: SkipReportFixture.SkipsWhenAsked:"), std::string::npos) << mixed;
  EXPECT_NE(mixed.find("asked to fail"), std::string::npos) << mixed;
  EXPECT_EQ(mixed.find("none failed"), std::string::npos) << mixed;
  std::string passed = run_self("");
  EXPECT_EQ(passed.find("SKIPPED:"), std::string::npos) << passed;
  EXPECT_EQ(passed.find("tests skipped"), std::string::npos) << passed;
}
