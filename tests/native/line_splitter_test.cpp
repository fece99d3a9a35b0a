// The runner's line reader over scripted pipe reads, and its command-line rules.
#include <gtest/gtest.h>

#include <deque>

#include "process/line_splitter.h"

namespace {

// Delivers one scripted chunk per read, as a pipe would; then the end.
struct ScriptedPipe {
  explicit ScriptedPipe(std::initializer_list<std::string> script) : chunks(script) {}
  std::deque<std::string> chunks;
  std::vector<size_t> read_sizes;
  ReadBytes reader() {
    return [this](char* buffer, size_t size) -> int64_t {
      read_sizes.push_back(size);
      if (chunks.empty()) return 0;
      std::string& c = chunks.front();
      size_t n = std::min(size, c.size());
      std::copy(c.begin(), c.begin() + static_cast<long>(n), buffer);
      c.erase(0, n);
      if (c.empty()) chunks.pop_front();
      return static_cast<int64_t>(n);
    };
  }
};

std::vector<std::string> all_lines(ScriptedPipe& pipe, int max_lines = 10) {
  std::string pending;
  std::vector<std::string> lines;
  for (int i = 0; i < max_lines; ++i) {
    std::string line = read_line(pending, pipe.reader());
    if (line.empty() && pending.empty() && pipe.chunks.empty()) break;
    lines.push_back(line);
  }
  return lines;
}

TEST(ReadLine, EachKindOfLineEndEndsOneLine) {
  ScriptedPipe pipe({"a\r\nb\nc\rd\n"});
  EXPECT_EQ(all_lines(pipe), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST(ReadLine, TwoLineEndsInARowGiveAnEmptyLine) {
  ScriptedPipe pipe({"a\n\nb\n"});
  std::string pending;
  EXPECT_EQ(read_line(pending, pipe.reader()), "a");
  EXPECT_EQ(read_line(pending, pipe.reader()), "");
  EXPECT_EQ(read_line(pending, pipe.reader()), "b");
}

TEST(ReadLine, CarriageReturnAtTheEndOfOneReadJoinsTheNextLineFeed) {
  ScriptedPipe pipe({"first\r", "\nsecond\n"});
  std::string pending;
  EXPECT_EQ(read_line(pending, pipe.reader()), "first");
  EXPECT_EQ(read_line(pending, pipe.reader()), "second");
  EXPECT_TRUE(pending.empty());
}

TEST(ReadLine, OutputEndingInCarriageReturnKeepsIt) {
  ScriptedPipe pipe({"tail\r"});
  std::string pending;
  EXPECT_EQ(read_line(pending, pipe.reader()), "tail\r");
}

TEST(ReadLine, OutputWithoutLineEndComesWholeAtTheEnd) {
  ScriptedPipe pipe({"no", " line", " end"});
  std::string pending;
  EXPECT_EQ(read_line(pending, pipe.reader()), "no line end");
}

TEST(ReadLine, LineLongerThanTheWorkBufferIsReturnedWhole) {
  std::string long_line(10000, 'x');
  ScriptedPipe pipe({long_line.substr(0, 4096), long_line.substr(4096, 4096), long_line.substr(8192) + "\nnext\n"});
  std::string pending;
  EXPECT_EQ(read_line(pending, pipe.reader()), long_line);
  EXPECT_EQ(read_line(pending, pipe.reader()), "next");
}

TEST(ReadLine, SurplusStaysPendingAndIsUsedBeforeReadingAgain) {
  ScriptedPipe pipe({"a\nb\nc"});
  std::string pending;
  EXPECT_EQ(read_line(pending, pipe.reader()), "a");
  EXPECT_EQ(pending, "b\nc");
  size_t reads = pipe.read_sizes.size();
  EXPECT_EQ(read_line(pending, pipe.reader()), "b");
  EXPECT_EQ(pipe.read_sizes.size(), reads) << "a held line must not wait for the pipe";
}

TEST(ReadLine, ReadsInBlocksNotBytes) {
  ScriptedPipe pipe({"x\n"});
  std::string pending;
  read_line(pending, pipe.reader());
  ASSERT_FALSE(pipe.read_sizes.empty());
  EXPECT_EQ(pipe.read_sizes[0], 4096u);
}

TEST(ReadLine, PendingLongerThanTheBufferStillFits) {
  std::string pending(6000, 'p');
  ScriptedPipe pipe({"q\n"});
  EXPECT_EQ(read_line(pending, pipe.reader()), std::string(6000, 'p') + "q");
}

TEST(ReadLine, ZeroBytesStayInTheLine) {
  ScriptedPipe pipe({std::string("a\0b\n", 4)});
  std::string pending;
  EXPECT_EQ(read_line(pending, pipe.reader()), std::string("a\0b", 3));
}

TEST(ProgramCommandLine, QuotesThePathUnlessAlreadyQuoted) {
  EXPECT_EQ(program_command_line("C:\\V\\\\vantor.exe", " x  -t1"), "\"C:\\V\\\\vantor.exe\"  x  -t1");
  EXPECT_EQ(program_command_line("\"C:\\p.exe\" -q", "y"), "\"C:\\p.exe\" -q y");
  EXPECT_EQ(program_command_line("p.exe", ""), "\"p.exe\"");
}

TEST(FallbackFolder, WorkingFolderElseProgramFolder) {
  EXPECT_EQ(fallback_folder("C:\\V\\\\vantor.exe", "D:\\w"), "D:\\w");
  EXPECT_EQ(fallback_folder("C:\\V\\\\vantor.exe", ""), "C:\\V\\\\");
  EXPECT_EQ(fallback_folder("notepad.exe", ""), "");
  EXPECT_EQ(fallback_folder("\\x.exe", ""), "");
}

}  // namespace
