// Command lines no one should type: every argument count, empty texts, texts of 10,000
// characters, bytes that are not UTF-8, numbers of thousands of digits. The program writes nothing
// to standard error, and prints either the usage text (status 2) or a well-formed report (status
// 0, or 1 when the folder argument names no folder that can be listed).
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/report_check.h"
#include "support/tree.h"

namespace {

// What the program prints; each value is the exit status that goes with it.
enum class Expect { Report = 0, ReportOfNoFolder = 1, Usage = 2 };

struct BadCommandLine {
  const char* name;
  std::vector<std::string> arguments;  // "TREE" stands for a small tree's folder
  Expect expect;
};

// Names the case in the test's output instead of its bytes.
void PrintTo(const BadCommandLine& commandLine, std::ostream* out) {
  *out << commandLine.name;
}

const std::string kLongText(10000, 'y');
const std::string kManyNines(5000, '9');
const std::string kNotUtf8 = "\xff\xfe\xc3\x28\x80 \xed\xa0\x80";

std::vector<BadCommandLine> badCommandLines() {
  return {
      {"NoArguments", {}, Expect::Usage},
      {"OneArgument", {"yes"}, Expect::Usage},
      {"TwoArguments", {"yes", "1MB"}, Expect::Usage},
      {"ThreeArguments", {"yes", "1MB", "0"}, Expect::Usage},
      {"FourArguments", {"yes", "1MB", "0", "TREE"}, Expect::Usage},
      {"FiveArguments", {"yes", "1MB", "0", "0", "TREE"}, Expect::Report},
      {"SixArguments", {"yes", "1MB", "0", "0", "TREE", "extra"}, Expect::Report},
      {"SevenArguments", {"yes", "1MB", "0", "0", "TREE", "extra", ""}, Expect::Report},
      {"AllEmpty", {"", "", "", "", ""}, Expect::ReportOfNoFolder},
      {"EmptyFolder", {"no", "0", "0", "0", ""}, Expect::ReportOfNoFolder},
      {"EmptySize", {"no", "", "0", "0", "TREE"}, Expect::Report},
      {"LongFlag", {kLongText, "0", "0", "0", "TREE"}, Expect::Report},
      {"LongSize", {"no", kManyNines + kManyNines, "0", "0", "TREE"}, Expect::Report},
      {"LongNegativeSize", {"no", "-" + kManyNines + kManyNines, "0", "0", "TREE"}, Expect::Usage},
      {"LongDays", {"no", "0", kManyNines + kManyNines, "0", "TREE"}, Expect::Report},
      {"LongNegativeDays", {"no", "0", "-" + kManyNines + kManyNines, "0", "TREE"}, Expect::Report},
      {"LongDepth", {"no", "0", "0", kManyNines + kManyNines, "TREE"}, Expect::Report},
      {"LongNegativeDepth",
       {"no", "0", "0", "-" + kManyNines + kManyNines, "TREE"},
       Expect::Report},
      {"LongFolder", {"no", "0", "0", "0", std::string(10000, 'f')}, Expect::ReportOfNoFolder},
      {"LongFolderOfSeparators",
       {"no", "0", "0", "0", std::string(10000, '/')},
       Expect::ReportOfNoFolder},
      {"SuffixOverflow",
       {"no", "1" + std::string(4000, '0') + "TBGBMBKB", "0", "0", "TREE"},
       Expect::Report},
      {"SizeWithBlanksAndSign", {"no", " \t+12kb", " -0", "\t+2", "TREE"}, Expect::Report},
      {"NotUtf8Everywhere",
       {kNotUtf8, kNotUtf8, kNotUtf8, kNotUtf8, kNotUtf8},
       Expect::ReportOfNoFolder},
      {"NotUtf8Folder", {"no", "0", "0", "0", "TREE/" + kNotUtf8}, Expect::ReportOfNoFolder},
      {"PercentAndQuotes", {"no", "%s%n", "%d", "%1.3f", "\"TREE\""}, Expect::Report},
      {"FolderIsAFile", {"no", "0", "0", "0", "TREE/file"}, Expect::ReportOfNoFolder},
  };
}

class BadArguments : public testing::TestWithParam<BadCommandLine> {
 protected:
  static void SetUpTestSuite() {
    tree = makeTemporaryFolder();
    makeFolder(tree + "/sub");
    makeFile(tree + "/file", 5000);
    makeFile(tree + "/sub/file", 70000);
  }
  static void TearDownTestSuite() { removeTree(tree); }
  static std::string tree;
};

std::string BadArguments::tree;

std::string withTree(std::string argument, const std::string& tree) {
  std::size_t at = argument.find("TREE");
  if (at != std::string::npos) argument.replace(at, 4, tree);
  return argument;
}

TEST_P(BadArguments, EndWithTheirStatusAndAWellFormedText) {
  std::vector<std::string> arguments;
  for (const std::string& argument : GetParam().arguments)
    arguments.push_back(withTree(argument, tree));
  ProgramOptions options;
  options.timeoutSeconds = 30;
  ProgramResult result = runProgram(arguments, options);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, static_cast<int>(GetParam().expect)) << "signal " << result.signal;
  EXPECT_EQ(result.err, "");
  if (GetParam().expect == Expect::Usage) {
    EXPECT_TRUE(isUsageReport(result.out));
  } else {
    EXPECT_TRUE(isWellFormedReport(result.out));
  }
}

INSTANTIATE_TEST_SUITE_P(CommandLines, BadArguments, testing::ValuesIn(badCommandLines()),
                         [](const testing::TestParamInfo<BadCommandLine>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
