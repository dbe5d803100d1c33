// The viewer as a user runs it: CSV from a report on standard input, and input it refuses.
#include <gtest/gtest.h>

#include <cstdlib>
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
            "Z:\\d\\cr\rlf\t0.000 MB\t0.000 MiB\t2\t12/7/2026 11:21:41 PM\r\n"
            "Error accessing folder: Z:\\d\\locked \xE9: (5): Access denied.\r\n\r\n"
            "Z:\\d\t1.000 GB\t1.074 GiB\t12\t07.12.2026 23:21\r\n");
  ProgramResult result = runView({"--csv", "-"}, "exec <'" + top + "/report.tsv';");
  removeTree(top);
  EXPECT_EQ(result.out,
            "path,\"total size (bytes, from the report's 3 decimals)\",\"size on disk (bytes, "
            "from the report's 3 decimals)\",file count,latest file stamp,error\r\n"
            "\"Z:\\d\\a,\"\"b\"\"\",2999976,3002000,7,2026-12-07T23:21:41,\r\n"
            "\"Z:\\d\\cr\rlf\",0,0,2,2026-12-07T23:21:41,\r\n"
            "Z:\\d\\locked \xC3\xA9,,,,,(5): Access denied.\r\n"
            "Z:\\d,1073741824,1074000000,12,07.12.2026 23:21,\r\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(ViewProgram, InputItCannotUseGetsOneLineOnStandardErrorAndStatus2) {
  std::string top = makeTemporaryFolder();
  writeFile(top + "/notes.txt", "path\ttotal size\r\nnot a report\r\n");
  writeFile(top + "/day-first.tsv",
            "Generating stats for: /srv\n"
            "path\ttotal size\tsize on disk\tfile count\tlatest file stamp\n"
            "/srv\t1.000 MB\t1.049 MiB\t5\t13/10/26 10:00:00\n");
  writeFile(top + "/other.tsv",
            "Generating stats for: /home\n"
            "path\ttotal size\tsize on disk\tfile count\tlatest file stamp\n"
            "/home\t1.000 MB\t1.049 MiB\t5\t13/10/26 10:00:00\n");
  const std::vector<std::vector<std::string>> commandLines = {
      {"--pdf"},                                     // an unknown option
      {"--csv", "a.tsv", "b.tsv", "c.tsv"},          // three reports
      {"-", "-"},                                    // standard input twice
      {top + "/day-first.tsv", top + "/other.tsv"},  // reports of two folders
      {top + "/missing.tsv"},                        // a file that is not there
      {"--csv", top},                                // a folder
      {top + "/notes.txt"},                          // no header line
      {"--date-order", "dym"},                       // no such order
      {"--date-order"},                              // no order at all
      {"--date-order=mdy", top + "/day-first.tsv"},  // an order the report contradicts
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

// The locales' sources for localedef (Debian package locales), built into `folder`; false where
// they cannot be.
bool buildLocales(const std::string& folder, const std::vector<std::string>& names) {
  makeFolder(folder);
  for (const std::string& name : names) {
    std::string command =
        "localedef -i " + name + " -f UTF-8 '" + folder + "/" + name + ".UTF-8' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
  }
  return true;
}

// Reports made under each of these locales give the same CSV, stamps in ISO form included: where
// a day above 12 settles the order of day and month whatever locale reads them, and where none
// does, read under the locale that made them. A report saved as UTF-16 reads like its twin.
TEST(ViewProgram, ReportsOfEveryLocaleGiveTheSameIsoStamps) {
  const std::vector<std::string> locales = {"en_GB", "fr_FR", "de_DE", "en_US"};
  std::string top = makeTemporaryFolder();
  if (!buildLocales(top + "/locales", locales)) {
    removeTree(top);
    GTEST_SKIP() << "localedef cannot build " << locales.size()
                 << " locales (Debian package locales)";
  }
  constexpr std::int64_t k3October2026 = 1791021600;   // 10:00 UTC
  constexpr std::int64_t kChristmas2025 = 1766649600;  // 08:00 UTC
  makeFolder(top + "/settled");
  makeFolder(top + "/settled/a");
  makeFile(top + "/settled/a/f", 5000, k3October2026);
  makeFolder(top + "/settled/b");
  makeFile(top + "/settled/b/g", 7000, kChristmas2025);
  makeFolder(top + "/open");
  makeFile(top + "/open/f", 5000, k3October2026);
  for (const std::string tree : {"settled", "open"}) {
    ProgramResult cReport = runProgram({"no", "0", "0", "0", top + "/" + tree});
    writeFile(top + "/c.tsv", cReport.out);
    ProgramResult expected = runView({"--csv", top + "/c.tsv"}, "");
    ASSERT_EQ(expected.exitStatus, 0) << expected.err;
    EXPECT_NE(expected.out.find(",2026-10-03T10:00:00,"), std::string::npos) << expected.out;
    for (const std::string& locale : locales) {
      ProgramOptions options;
      options.environment = {"LOCPATH=" + top + "/locales", "LC_ALL=" + locale + ".UTF-8"};
      ProgramResult report = runProgram({"no", "0", "0", "0", top + "/" + tree}, options);
      writeFile(top + "/report.tsv", report.out);
      std::string utf16 = "\xFF\xFE";
      for (char byte : report.out) utf16 += {byte, '\0'};
      writeFile(top + "/utf16.tsv", utf16);
      // The viewer reads a settled order under any locale; an open one under the report's own.
      if (tree == "open") options.command = {TREEMETER_VIEW_PROGRAM};
      for (const char* name : {"report.tsv", "utf16.tsv"}) {
        ProgramResult csv = tree == "open" ? runProgram({"--csv", top + "/" + name}, options)
                                           : runView({"--csv", top + "/" + name}, "");
        EXPECT_EQ(csv.out, expected.out) << locale << " " << name << "\n" << report.out;
      }
    }
  }
  removeTree(top);
}

}  // namespace
