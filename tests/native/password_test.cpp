// -pw and -he slipped into the parameter strings: the archiver's own parser still reads every
// other piece as before, the unclosed last quote included.
#include <gtest/gtest.h>

#include "operations/archiver_contract.h"
#include "operations/password.h"
#include "options.h"

namespace {

Options parsed(const std::string& parameters) {
  Options o;
  std::string problem;
  EXPECT_TRUE(parse_options(split_parameters(parameters), o, problem)) << parameters << ": " << problem;
  EXPECT_TRUE(o.password) << parameters;
  return o;
}

TEST(PasswordSwitch, EveryRunOnAnEncryptedArchiveReachesTheToolWithItsOwnArgumentsIntact) {
  const std::string archive = "C:\\my files\\a.vnr", out = "D:\\new folder\\";
  Options o = parsed(with_switch(extract_marked_parameters(3, archive, out), "-pw"));
  EXPECT_TRUE(o.marked_only);
  EXPECT_EQ(o.archive + "|" + o.destination, archive + "|" + out);
  EXPECT_FALSE(parsed(with_switch(extract_all_parameters(1, archive, out), "-pw")).marked_only);
  EXPECT_EQ(parsed(with_switch(extract_listed_parameters(2, "C:\\T\\x.lis", out), "-pw")).list_file, "C:\\T\\x.lis");
  EXPECT_TRUE(parsed(with_switch(list_parameters(archive), "-pw")).machine_listing);
  EXPECT_EQ(parsed(with_switch(verify_parameters(archive), "-pw")).archive, archive);
  o = parsed(with_switch(with_switch(compress_parameters(" -e ", " -r ", 64, 5, 2, "-s", "x", 2, "C:\\V\\"), "-he"), "-pw"));
  EXPECT_TRUE(o.hide_names && o.self_extracting && o.keep_folders && o.solid && o.ultra);
  EXPECT_EQ(o.list_file, "C:\\V\\\\master.lis");
}

}  // namespace
