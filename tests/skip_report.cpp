// Skips said where the test command collects them. A Windows suite is one ctest entry, and ctest
// takes a skip from the output whatever the exit code, so the closing line that marks the entry
// skipped is printed only when nothing failed; a failure is never shown as a skip. Every skipped
// test gets a line "SKIPPED: <suite>.<test>: <reason>" for scripts/test.sh's summary.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

class SkipReport : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo& info) override {
    const testing::TestResult& result = *info.result();
    if (!result.Skipped()) return;
    std::string reason;
    for (int i = 0; i < result.total_part_count(); ++i)
      if (result.GetTestPartResult(i).skipped()) reason += result.GetTestPartResult(i).message();
    for (char& c : reason)
      if (c == '\n' || c == '\r') c = ' ';
    std::printf("SKIPPED: %s.%s: %s\n", info.test_suite_name(), info.name(), reason.empty() ? "no reason given" : reason.c_str());
  }
  void OnTestProgramEnd(const testing::UnitTest& unit) override {
    if (unit.skipped_test_count() > 0 && unit.failed_test_count() == 0)
      std::printf("tests skipped: %d, none failed\n", unit.skipped_test_count());
    std::fflush(stdout);
  }
};

const bool registered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new SkipReport);
  return true;
}();

}  // namespace
