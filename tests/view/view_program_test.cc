// The viewer as a user runs it: CSV from a report on standard input, and input it refuses.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/tree.h"

namespace {

ProgramResult runView(const std::vector<std::string>& arguments, const std::string& shellPrefix) {
  ProgramOptions options;
  options.command = {TREEMETER_VIEW_PROGRAM};
  options.shellPrefix = shellPrefix;
  return runProgram(arguments, options);
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(ViewProgram, CsvHasALineForEachRowAndErrorLineWithSizesInBytes) {
  std::string top = makeTemporaryFolder();
  writeFile(top + "/report.tsv",
            "Treemeter v2.0 -- (c) 2026\r\nGenerating stats for: Z:\\d\r\n"
            "path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n"
            "Z:\\d\\a,\"b\"\t2.861 MB\t3.002 MiB\t7\t12/7/2026 11:21:41 PM\r\n"
            "Error accessing folder: Z:\\d\\locked \xE9: (5): Access denied.\r\n\r\n"
            "Z:\\d\t1.000 GB\t1.074 GiB\t12\t07.12.2026 23:21\r\n");
  ProgramResult result = runView({"--csv", "-"}, "exec <'" + top + "/report.tsv';");
  removeTree(top);
  EXPECT_EQ(result.out,
            "path,total bytes,bytes on disk,file count,latest file stamp,error\r\n"
            "\"Z:\\d\\a,\"\"b\"\"\",2999976,3002000,7,2026-12-07T23:21:41,\r\n"
            "Z:\\d\\locked \xC3\xA9,,,,,(5): Access denied.\r\n"
            "Z:\\d,1073741824,1074000000,12,07.12.2026 23:21,\r\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(ViewProgram, InputItCannotUseGetsOneLineOnStandardErrorAndStatus2) {
  std::string top = makeTemporaryFolder();
  writeFile(top + "/notes.txt", "path\ttotal size\r\nnot a report\r\n");
  const std::vector<std::vector<std::string>> commandLines = {
      {"--pdf"},                    // an unknown option
      {"--csv", "a.tsv", "b.tsv"},  // two reports
      {top + "/missing.tsv"},       // a file that is not there
      {"--csv", top},               // a folder
      {top + "/notes.txt"},         // no header line
  };
  for (const auto& arguments : commandLines) {
    ProgramResult result = runView(arguments, "");
    EXPECT_EQ(result.exitStatus, 2) << arguments.back();
    EXPECT_EQ(result.out, "") << arguments.back();
    EXPECT_EQ(result.err.rfind("treemeter-view: ", 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  }
  removeTree(top);
}

}  // namespace
