// The skip lines of tests/skip_report.cpp, seen from outside: this program runs itself on a test
// that skips or fails when asked to, as ctest runs a Windows suite.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

std::string run_self(const std::string& filter, const std::string& asked) {
  std::string command = "VANTOR_SKIP_REPORT_ASK=" + asked + " /proc/" + std::to_string(getpid()) +
                        "/exe --gtest_filter='" + filter + "' 2>&1";
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    pclose(p);
  }
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
  std::string skipped = run_self("SkipReportFixture.*", "skip");
  EXPECT_NE(skipped.find("SKIPPED: SkipReportFixture.SkipsWhenAsked: asked to skip over two lines\n"),
            std::string::npos) << skipped;
  EXPECT_NE(skipped.find("tests skipped: 1, none failed"), std::string::npos) << skipped;
  // A skip beside a failure: the run must not read as skipped, or ctest would hide the failure.
  std::string mixed = run_self("SkipReportFixture.*", "skip,fail");
  EXPECT_NE(mixed.find("SKIPPED: SkipReportFixture.SkipsWhenAsked:"), std::string::npos) << mixed;
  EXPECT_NE(mixed.find("asked to fail"), std::string::npos) << mixed;
  EXPECT_EQ(mixed.find("none failed"), std::string::npos) << mixed;
  std::string passed = run_self("SkipReportFixture.*", "");
  EXPECT_EQ(passed.find("SKIPPED:"), std::string::npos) << passed;
  EXPECT_EQ(passed.find("tests skipped"), std::string::npos) << passed;
}
