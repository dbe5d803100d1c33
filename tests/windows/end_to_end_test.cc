// The Windows build against the Linux build: both run on the same trees (the Windows one under
// wine, which shows the Linux file system as drive Z:), and their reports compared row by row.
// TREEMETER_WINDOWS_PROGRAM names Treemeter.exe and WINEPREFIX the wine prefix to run it in;
// without them the tests are skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/ntfs_report.h"
#include "support/ntfs_volume.h"
#include "support/program.h"
#include "support/tree.h"

namespace {

constexpr std::int64_t kStampA = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr std::int64_t kStampB = 1262304000;  // 2010-01-01 00:00:00 UTC
constexpr int kWindowsLoopCode = 1921;
constexpr int kWindowsPathNotFound = 3;

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string windowsPath(const std::string& linuxPath) {
  std::string path = "Z:" + linuxPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::vector<std::string> splitColumns(const std::string& line) {
  std::vector<std::string> columns;
  std::size_t start = 0;
  for (std::size_t end; (end = line.find('\t', start)) != std::string::npos; start = end + 1) {
    columns.push_back(line.substr(start, end - start));
  }
  columns.push_back(line.substr(start));
  return columns;
}

// A stamp of the Linux build in the C locale ("11/14/23 22:13:20") in the form wine's default
// user locale gives it ("11/14/2023 10:13:20 PM"). The two-digit year 01 is the stamp 0 (1601);
// the trees hold no other stamp before 2002.
std::string windowsStamp(const std::string& linuxStamp) {
  int month, day, year, hour, minute, second;
  if (sscanf(linuxStamp.c_str(), "%d/%d/%d %d:%d:%d", &month, &day, &year, &hour, &minute,
             &second) != 6) {
    return "unreadable stamp " + linuxStamp;
  }
  year += year == 1 ? 1600 : 2000;
  char text[64];
  snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d %s", month, day, year,
           hour % 12 == 0 ? 12 : hour % 12, minute, second, hour < 12 ? "AM" : "PM");
  return text;
}

// The parts of one report that the two builds must agree on.
struct Report {
  std::vector<std::string> rows;  // in the Windows form, sorted: sibling order is the listing's
  std::vector<std::string> errorPaths;  // in the Windows form, sorted
};

void checkLineEnds(const std::string& output) {
  EXPECT_EQ(output.find("\r\r\n"), std::string::npos);
  for (std::size_t at = output.find('\n'); at != std::string::npos;
       at = output.find('\n', at + 1)) {
    ASSERT_TRUE(at > 0 && output[at - 1] == '\r') << "a bare line feed at byte " << at;
  }
}

// Reads the rows and error lines after the header. `messageLineEnds` says whether each error
// message carries a line end of its own, which leaves an empty line behind the error line.
Report readReport(const std::string& output, bool messageLineEnds, bool mapToWindows) {
  Report report;
  std::vector<std::string> lines = splitLines(output);
  auto line = std::find(lines.begin(), lines.end(), kReportHeader);
  EXPECT_NE(line, lines.end()) << output;
  if (line == lines.end()) return report;
  for (++line; line != lines.end(); ++line) {
    if (line->rfind(kErrorLineStart, 0) == 0) {
      std::string path =
          line->substr(kErrorLineStart.size(), line->find(": (") - kErrorLineStart.size());
      report.errorPaths.push_back(mapToWindows ? windowsPath(path) : path);
      if (messageLineEnds) {
        EXPECT_TRUE(line + 1 != lines.end() && (line + 1)->empty()) << output;
        if (line + 1 != lines.end()) ++line;
      }
      continue;
    }
    std::vector<std::string> columns = splitColumns(*line);
    EXPECT_EQ(columns.size(), 5u) << *line;
    if (columns.size() != 5) continue;
    if (mapToWindows) {
      columns[0] = windowsPath(columns[0]);
      columns[4] = windowsStamp(columns[4]);
    }
    report.rows.push_back(columns[0] + "\t" + columns[1] + "\t" + columns[2] + "\t" + columns[3] +
                          "\t" + columns[4]);
  }
  std::sort(report.rows.begin(), report.rows.end());
  std::sort(report.errorPaths.begin(), report.errorPaths.end());
  return report;
}

std::string wineProgram() {
  std::string wine = environmentValue("TREEMETER_WINE");
  return wine.empty() ? "/usr/lib/wine/wine64" : wine;
}

std::string wineServer() {
  std::string wine = wineProgram();
  return wine.substr(0, wine.rfind('/') + 1) + "wineserver";
}

// Runs a shell command in the wine prefix with all its output discarded; its exit status.
int runInWinePrefix(const std::string& command) {
  std::string line = "WINEPREFIX='" + environmentValue("WINEPREFIX") + "' WINEDEBUG=-all " +
                     command + " >/dev/null 2>&1 </dev/null";
  return std::system(line.c_str());
}

class WindowsBuildTest : public ::testing::Test {
 protected:
  // Wine's server and its helper processes, when a run starts them, hold that run's output pipes
  // open for seconds after it ends. So a server that stays is started here, apart from any run
  // (after any earlier one has gone), and a first run starts the helpers (and creates the prefix
  // when it is new, which is slow): without arguments, the program prints its usage text and ends
  // with status 2. The last test ends them all.
  static void SetUpTestSuite() {
    if (!windowsBuildGiven()) return;
    runInWinePrefix("mkdir -p \"$WINEPREFIX\" && " + wineServer() + " -w");
    EXPECT_EQ(runInWinePrefix(wineServer() + " -p"), 0);
    int usage =
        runInWinePrefix(wineProgram() + " '" + environmentValue("TREEMETER_WINDOWS_PROGRAM") + "'");
    EXPECT_TRUE(WIFEXITED(usage) && WEXITSTATUS(usage) == 2) << usage;
  }
  static void TearDownTestSuite() {
    if (windowsBuildGiven()) runInWinePrefix(wineServer() + " -k");
  }
  static bool windowsBuildGiven() {
    return !environmentValue("TREEMETER_WINDOWS_PROGRAM").empty() &&
           !environmentValue("WINEPREFIX").empty();
  }

  void SetUp() override {
    if (!windowsBuildGiven()) {
      GTEST_SKIP() << "TREEMETER_WINDOWS_PROGRAM and WINEPREFIX are not both set";
    }
    char* program = realpath(environmentValue("TREEMETER_WINDOWS_PROGRAM").c_str(), nullptr);
    ASSERT_NE(program, nullptr) << "no program at TREEMETER_WINDOWS_PROGRAM";
    windowsProgram = program;
    free(program);
    winePrefix = environmentValue("WINEPREFIX");
    top = makeTemporaryFolder();
  }
  void TearDown() override {
    if (!top.empty()) removeTree(top);
  }

  // Runs `words` (a Windows program and its arguments) under wine, expecting exit status
  // `status`; its output, unless it is a page, is text with Windows' line ends.
  ProgramResult runUnderWine(const std::vector<std::string>& words, const std::string& locale = "C",
                             int status = 0, bool page = false) {
    ProgramOptions options;
    options.command = {wineProgram()};
    options.environment = {"WINEPREFIX=" + winePrefix, "WINEDEBUG=-all",
                           "HOME=" + environmentValue("HOME"), "LC_ALL=" + locale};
    ProgramResult result = runProgram(words, options);
    EXPECT_EQ(result.exitStatus, status);
    if (!page) checkLineEnds(result.out);
    return result;
  }

  ProgramResult runWindows(const std::vector<std::string>& arguments,
                           const std::string& locale = "C", int status = 0) {
    std::vector<std::string> words = {windowsProgram};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return runUnderWine(words, locale, status);
  }

  // Runs both builds with the same settings on the folder `linuxFolder` and compares the reports.
  void expectSameReports(const std::vector<std::string>& settings, const std::string& linuxFolder) {
    std::vector<std::string> linuxArguments = settings;
    linuxArguments.push_back(linuxFolder);
    std::vector<std::string> windowsArguments = settings;
    windowsArguments.push_back(windowsPath(linuxFolder));
    ProgramResult linuxRun = runProgram(linuxArguments);
    ProgramResult windows = runWindows(windowsArguments);
    Report expected = readReport(linuxRun.out, false, true);
    Report actual = readReport(windows.out, true, false);
    EXPECT_FALSE(expected.rows.empty()) << linuxRun.out;
    EXPECT_EQ(actual.rows, expected.rows) << windows.out;
    EXPECT_EQ(actual.errorPaths, expected.errorPaths) << windows.out;
    for (const std::string& path : actual.errorPaths) {
      std::string loopLine =
          kErrorLineStart + path + ": (" + std::to_string(kWindowsLoopCode) + "): ";
      EXPECT_NE(windows.out.find(loopLine), std::string::npos) << windows.out;
    }
  }

  // Files of several sizes and stamps, an empty folder, a link to a folder elsewhere in the tree
  // and a link back up to the top, which "yes" finds to be a loop.
  void makeTree() {
    makeFile(top + "/one", 1, kStampA);
    makeFile(top + "/big", 3 << 20, kStampB);
    makeFolder(top + "/S");
    makeFile(top + "/S/four", 4096, kStampA);
    makeFile(top + "/S/odd", 4097, kStampB);
    makeFolder(top + "/S/empty");
    makeFolder(top + "/S/T");
    makeFile(top + "/S/T/recent", 5000, time(nullptr) - 3600);
    makeFolder(top + "/old");
    makeFile(top + "/old/y", 10000, kStampB);
    makeLink("S/T", top + "/link");
    makeLink("../..", top + "/S/T/back");
  }

  std::string windowsProgram;
  std::string winePrefix;
  std::string top;
};

TEST_F(WindowsBuildTest, SameRowsAsTheLinuxBuild) {
  makeTree();
  const std::vector<std::vector<std::string>> settingsTable = {
      {"yes", "0", "0", "0"},  {"no", "0", "0", "0"},   {"yes", "4KB", "0", "2"},
      {"no", "1MB", "0", "0"}, {"yes", "0", "30", "0"}, {"no", "100GB", "0", "0"},
  };
  for (const auto& settings : settingsTable) {
    SCOPED_TRACE(settings[0] + " " + settings[1] + " " + settings[2] + " " + settings[3]);
    expectSameReports(settings, top);
  }
}

TEST_F(WindowsBuildTest, TrailingQuoteOfAQuotedFolderIsDropped) {
  // A user types the quoted folder "Z:\dir\"; the backslash makes the closing quote literal, so
  // the platform's splitting of the command line delivers Z:\dir". Both ways: that argument as
  // delivered, and the line as typed, from a batch file that cmd runs.
  makeTree();
  std::string script = top + "/typed.bat";
  std::ofstream(script) << "@" << windowsPath(windowsProgram) << " no 0 0 0 \"" << windowsPath(top)
                        << "\\\"\r\n";
  ProgramResult linuxRun = runProgram({"no", "0", "0", "0", top});
  for (const ProgramResult& windows : {runWindows({"no", "0", "0", "0", windowsPath(top) + "\""}),
                                       runUnderWine({"cmd", "/c", windowsPath(script)})}) {
    EXPECT_NE(windows.out.find("Generating stats for: " + windowsPath(top) + "\"\r\n"),
              std::string::npos)
        << windows.out;
    EXPECT_EQ(readReport(windows.out, true, false).rows,
              readReport(linuxRun.out, false, true).rows);
  }
}

TEST_F(WindowsBuildTest, MissingFolderGivesTheSystemCodeAndMessage) {
  std::string missing = windowsPath(top + "/missing");
  ProgramResult windows = runWindows({"no", "0", "0", "0", missing}, "C", 1);
  std::string start =
      kErrorLineStart + missing + ": (" + std::to_string(kWindowsPathNotFound) + "): ";
  std::size_t at = windows.out.find(start);
  ASSERT_NE(at, std::string::npos) << windows.out;
  // The system's message, with its own line end, then the line's: an empty line follows.
  std::size_t messageEnd = windows.out.find("\r\n", at);
  EXPECT_GT(messageEnd, at + start.size()) << windows.out;
  EXPECT_EQ(windows.out.substr(messageEnd, 4), "\r\n\r\n");
  EXPECT_EQ(windows.out.substr(messageEnd + 4),
            missing + "\t0.000 MB\t0.000 MiB\t0\t1/1/1601 12:00:00 AM\r\n");
}

TEST_F(WindowsBuildTest, DriveRootListsNoDotEntries) {
  // Wine's drive C: is the prefix's drive_c folder. Like a Windows volume root, and unlike the
  // folder on Linux, its listing holds no "." and "..": two entries fewer, the same bytes.
  std::string linuxOut = runProgram({"no", "0", "0", "1", winePrefix + "/drive_c"}).out;
  std::string windowsOut = runWindows({"no", "0", "0", "1", "C:\\"}).out;
  std::vector<std::string> linuxRows = readReport(linuxOut, false, false).rows;
  std::vector<std::string> windowsRows = readReport(windowsOut, true, false).rows;
  ASSERT_EQ(linuxRows.size(), 1u) << linuxOut;
  ASSERT_EQ(windowsRows.size(), 1u) << windowsOut;
  std::vector<std::string> linuxColumns = splitColumns(linuxRows[0]);
  std::vector<std::string> windowsColumns = splitColumns(windowsRows[0]);
  EXPECT_EQ(windowsColumns[0], "C:\\");
  EXPECT_EQ(windowsColumns[1], linuxColumns[1]);
  EXPECT_EQ(windowsColumns[2], linuxColumns[2]);
  EXPECT_EQ(std::stoull(windowsColumns[3]) + 2, std::stoull(linuxColumns[3]));
}

// A local NTFS drive read from its master file table: drive X: is an image (x::, the raw device
// wine opens for \\.\X:) and its read-only ntfs-3g mount (x:, what wine lists). Wine's listing of
// the mount cannot open "\xc4rger" and takes Case and case for one name; the table has neither
// problem, and gives the Linux scan's rows in the folders' index order. Without x::, the drive is
// listed as before.
TEST_F(WindowsBuildTest, NtfsDriveIsReadFromItsMasterFileTable) {
  std::string unavailable = ntfsVolumesUnavailable();
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  struct Drive {
    NtfsVolume volume;
    std::string devices;
    ~Drive() {
      for (const char* link : {"x::", "x:", "y::", "y:"}) unlink((devices + link).c_str());
      removeNtfsVolume(volume);
    }
  } drive{makeNtfsVolume(64, {}), winePrefix + "/dosdevices/"};
  std::string data = drive.volume.mount + "/data";
  makeFolder(data);
  for (const char* name : {"\xc3\x84rger", "Case", "case", "\xc3\xa9t\xc3\xa9", "_", "B"}) {
    makeFolder(data + "/" + name);
    makeFile(data + "/" + name + "/f", 5000, kStampA);
  }
  makeFile(data + "/Case/g", 7000, time(nullptr) - 3600);
  link((data + "/Case/g").c_str(), (data + "/B/g again").c_str());
  makeFile(data + "/A long file name.txt", 300, kStampB);
  setDosName(data + "/A long file name.txt", "ALONGF~1.TXT");
  makeFolder(data + "/target");
  makeFile(data + "/target/t", 4097, kStampA);
  makeJunction(data + "/junction", "X:\\data\\target");
  makeJunction(data + "/target/back", "X:\\data");
  // Enough files that the MFT is read in several chunks, with reads in flight behind the one
  // being read.
  makeFolder(data + "/many");
  for (int i = 0; i < 20000; ++i) {
    std::string path = data + "/many/" + std::to_string(i);
    ASSERT_EQ(mknod(path.c_str(), S_IFREG | 0644, 0), 0) << path;
  }
  mountReadOnly(drive.volume);
  // Links left by a run that was killed would be in the way. Drive Y: is the volume's folder
  // data, as subst makes a drive, over the same raw device.
  for (const char* link : {"x::", "x:", "y::", "y:"}) unlink((drive.devices + link).c_str());
  ASSERT_EQ(symlink(drive.volume.mount.c_str(), (drive.devices + "x:").c_str()), 0);
  ASSERT_EQ(symlink(drive.volume.image.c_str(), (drive.devices + "x::").c_str()), 0);
  ASSERT_EQ(symlink(data.c_str(), (drive.devices + "y:").c_str()), 0);
  ASSERT_EQ(symlink(drive.volume.image.c_str(), (drive.devices + "y::").c_str()), 0);

  // The lines to compare: rows with stamps in wine's form, error lines up to their code.
  auto comparable = [](std::vector<std::string> lines, bool fromLinux) {
    std::vector<std::string> kept;
    for (std::string& line : lines) {
      if (line.empty()) continue;  // the line end of a system message's own
      if (line.rfind(kErrorLineStart, 0) == 0) {
        line = line.substr(0, line.find("): ") + 1);
        if (fromLinux)
          line.replace(line.rfind('(') + 1, std::string::npos,
                       std::to_string(kWindowsLoopCode) + ")");
      } else if (fromLinux) {
        std::size_t stamp = line.rfind('\t') + 1;
        line.replace(stamp, std::string::npos, windowsStamp(line.substr(stamp)));
      }
      kept.push_back(line);
    }
    return kept;
  };
  std::vector<std::string> fromTable;
  for (const std::vector<std::string>& settings : std::vector<std::vector<std::string>>{
           {"yes", "0", "0", "0"}, {"no", "0", "0", "0"}, {"no", "8KB", "30", "2"}}) {
    SCOPED_TRACE(settings[0] + " " + settings[1] + " " + settings[2] + " " + settings[3]);
    std::vector<std::string> linuxArguments = settings, windowsArguments = settings;
    linuxArguments.push_back(data);
    windowsArguments.push_back("X:\\data");
    std::vector<std::string> expected = linesAfterHeader(runProgram(linuxArguments).out);
    putInIndexOrder(expected, drive.volume.image);
    mapToDriveX(expected, drive.volume.mount);
    std::string out = runWindows(windowsArguments).out;
    EXPECT_EQ(comparable(linesAfterHeader(out), false), comparable(expected, true)) << out;
    if (settings[0] == "no" && settings[1] == "0") fromTable = linesAfterHeader(out);
  }

  // Drive Y:'s root is no root of the volume: it is listed (wine's listing cannot open the
  // folder named with A umlaut), not taken for the table's root, which holds data.
  std::string onY = runWindows({"no", "0", "0", "0", "Y:\\"}).out;
  EXPECT_NE(onY.find(": (123): "), std::string::npos) << onY;
  EXPECT_EQ(onY.find("Y:\\data"), std::string::npos) << onY;
  // Without the raw device, drive X: is listed: the report is that of the same folder listed
  // through drive Z:.
  ASSERT_EQ(unlink((drive.devices + "x::").c_str()), 0);
  std::vector<std::string> listed =
      linesAfterHeader(runWindows({"no", "0", "0", "0", windowsPath(data)}).out);
  std::string linuxData = windowsPath(data);
  for (std::string& line : listed) {
    std::size_t at = line.find(linuxData);
    if (at != std::string::npos) line.replace(at, linuxData.size(), "X:\\data");
  }
  std::vector<std::string> fallback =
      linesAfterHeader(runWindows({"no", "0", "0", "0", "X:\\data"}).out);
  EXPECT_EQ(fallback, listed);
  EXPECT_NE(fallback, fromTable);
}

TEST_F(WindowsBuildTest, NamesAreWrittenOneByteEachUnit) {
  // In a UTF-8 locale wine reads the names as UTF-8: U+00E9 is written as its one byte, U+03A9
  // as "?".
  makeFolder(top + "/caf\xc3\xa9");
  makeFile(top + "/caf\xc3\xa9/f", 1, kStampA);
  makeFolder(top + "/\xce\xa9");
  makeFile(top + "/\xce\xa9/f", 1, kStampA);
  std::string out = runWindows({"no", "0", "0", "0", windowsPath(top)}, "C.UTF-8").out;
  std::string rowEnd = "\t0.000 MB\t0.004 MiB\t3\t11/14/2023 10:13:20 PM\r\n";
  EXPECT_NE(out.find(windowsPath(top) + "\\caf\xe9" + rowEnd), std::string::npos) << out;
  EXPECT_NE(out.find(windowsPath(top) + "\\?" + rowEnd), std::string::npos) << out;
}

// The first byte of `output` that carries a control character: below 0x20 other than a tab and the
// line ends, DEL, or 0x80 to 0x9F, which can only be U+0080 to U+009F written one byte a unit.
std::size_t firstControlByte(const std::string& output) {
  for (std::size_t i = 0; i < output.size(); ++i) {
    auto byte = static_cast<unsigned char>(output[i]);
    if ((byte < 0x20 && byte != '\t' && byte != '\r' && byte != '\n') || byte == 0x7F ||
        (byte >= 0x80 && byte <= 0x9F)) {
      return i;
    }
  }
  return std::string::npos;
}

// Folders named with CSI (U+009B, from UTF-8 C2 9B), ESC and a line feed, inside the tree and as
// the folder argument: rows, error lines and the settings line carry each as "?". Wine can open
// no folder whose name holds ESC or a line feed, which gives their error lines.
TEST_F(WindowsBuildTest, NamesSendNoControlCharacter) {
  const std::string folder = top +
                             "/names\xc2\x9b"
                             "2J";
  makeFolder(folder);
  makeFolder(folder +
             "/evil\xc2\x9b"
             "2J");
  makeFile(folder +
               "/evil\xc2\x9b"
               "2J/f",
           1, kStampA);
  makeFolder(folder + "/esc\x1b[31m");
  makeFolder(folder + "/lf\nrow");
  const std::string shown = windowsPath(top) + "\\names?2J";
  ProgramResult tree = runWindows({"no", "0", "0", "0", windowsPath(folder)}, "C.UTF-8");
  ProgramResult missing =
      runWindows({"no", "0", "0", "0", windowsPath(folder) + "\\\x1b[H\nx"}, "C.UTF-8", 1);
  for (const ProgramResult* result : {&tree, &missing}) {
    EXPECT_EQ(firstControlByte(result->out), std::string::npos) << result->out;
    EXPECT_EQ(result->err, "");
  }
  for (const std::string& line :
       {"\r\nGenerating stats for: " + shown + "\r\n", "\r\n" + shown + "\\evil?2J\t",
        "\r\nError accessing folder: " + shown + "\\esc?[31m: (123): ",
        "\r\nError accessing folder: " + shown + "\\lf?row: (123): ", "\r\n" + shown + "\t"}) {
    EXPECT_NE(tree.out.find(line), std::string::npos) << line << " in " << tree.out;
  }
  EXPECT_NE(missing.out.find("\r\nGenerating stats for: " + shown + "\\?[H?x\r\n"),
            std::string::npos)
      << missing.out;
}

// The Linux build's, but for its last line: the Windows package has no manual page, and holds the
// manual as text beside the program.
TEST_F(WindowsBuildTest, UsageTextIsTheLinuxBuildsButForWhereTheManualIs) {
  const std::string manualPage =
      "Read more in its manual page: man treemeter (in the source: man/treemeter.1).\r\n";
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {}, {"yes", "1MB", "0", "0"}, {"yes", "-1", "0", "0", "Z:\\"}}) {
    ProgramResult windows = runWindows(arguments, "C", 2);
    std::string expected = runProgram(arguments).out;
    ASSERT_TRUE(
        expected.size() >= manualPage.size() &&
        expected.compare(expected.size() - manualPage.size(), std::string::npos, manualPage) == 0)
        << expected;
    expected.replace(expected.size() - manualPage.size(), std::string::npos,
                     "Read more in its manual: Treemeter.txt, beside Treemeter.exe.\r\n");
    EXPECT_EQ(windows.out, expected);
    EXPECT_NE(windows.out.find("Usage: Treemeter.exe"), std::string::npos) << windows.out;
  }
}

// The lines of a CSV table after its header, each cut to its first `columns` fields, sorted.
std::vector<std::string> csvLines(const std::string& csv, std::size_t columns) {
  std::vector<std::string> lines = splitLines(csv);
  if (!lines.empty()) lines.erase(lines.begin());
  for (std::string& line : lines) {
    std::size_t end = 0;
    for (std::size_t field = 0; field < columns && end != std::string::npos; ++field) {
      end = line.find(',', end + (field > 0));
    }
    line = line.substr(0, end);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Either build's viewer reads either build's report: the same stamps in ISO form, and compared,
// no folder changed; TreemeterView.exe compares them as treemeter-view does.
TEST_F(WindowsBuildTest, ViewersReadBothBuildsReportsAlikeAndFindNothingChanged) {
  makeFolder(top + "/a");
  makeFile(top + "/a/f", 5000, kStampA);
  makeFolder(top + "/b");
  makeFile(top + "/b/g", 3 << 20, kStampB);
  makeFolder(top + "/b/c");
  makeFile(top + "/b/c/h", 7000, kStampA);
  std::string reports = makeTemporaryFolder();
  std::ofstream(reports + "/linux.tsv", std::ios::binary)
      << runProgram({"no", "0", "0", "0", top}).out;
  // Under wine in a day-first locale, where Linux writes month first.
  std::ofstream(reports + "/windows.tsv", std::ios::binary)
      << runWindows({"no", "0", "0", "0", windowsPath(top)}, "en_GB.UTF-8").out;
  ProgramOptions viewer;
  viewer.command = {TREEMETER_VIEW_PROGRAM};
  // Path, sizes, count, stamp: the paths aside (the two forms), the same lines.
  std::vector<std::string> fromLinux =
      csvLines(runProgram({"--csv", reports + "/linux.tsv"}, viewer).out, 5);
  std::vector<std::string> fromWindows =
      csvLines(runProgram({"--csv", reports + "/windows.tsv"}, viewer).out, 5);
  ASSERT_EQ(fromLinux.size(), 4u);
  ASSERT_EQ(fromWindows.size(), 4u);
  for (std::size_t i = 0; i < fromLinux.size(); ++i) {
    EXPECT_EQ(fromLinux[i].substr(fromLinux[i].find(',')),
              fromWindows[i].substr(fromWindows[i].find(',')));
  }
  EXPECT_NE(fromLinux[0].find(",2023-11-14T22:13:20"), std::string::npos) << fromLinux[0];
  std::ifstream windowsReport(reports + "/windows.tsv");
  std::string windowsText((std::istreambuf_iterator<char>(windowsReport)), {});
  EXPECT_NE(windowsText.find("\t14/11/2023 22:13:20\r\n"), std::string::npos) << windowsText;

  ProgramResult changes =
      runProgram({"--csv", reports + "/linux.tsv", reports + "/windows.tsv"}, viewer);
  EXPECT_EQ(changes.exitStatus, 0) << changes.err;
  std::vector<std::string> states = splitLines(changes.out);
  ASSERT_EQ(states.size(), 5u) << changes.out;
  for (std::size_t i = 1; i < states.size(); ++i) {
    EXPECT_EQ(states[i].substr(states[i].rfind(',')), ",unchanged") << states[i];
  }
  std::string windowsViewer =
      windowsProgram.substr(0, windowsProgram.rfind('/') + 1) + "TreemeterView.exe";
  std::vector<std::string> reportNames = {windowsPath(reports + "/linux.tsv"),
                                          windowsPath(reports + "/windows.tsv")};
  std::vector<std::string> csvWords = {windowsViewer, "--csv"};
  csvWords.insert(csvWords.end(), reportNames.begin(), reportNames.end());
  EXPECT_EQ(runUnderWine(csvWords).out, changes.out);
  std::vector<std::string> pageWords = {windowsViewer};
  pageWords.insert(pageWords.end(), reportNames.begin(), reportNames.end());
  ProgramResult page = runUnderWine(pageWords, "C", 0, true);
  EXPECT_NE(page.out.find("<h1>What changed in " + windowsPath(top) + "</h1>"), std::string::npos)
      << page.out.substr(0, 2000);
  removeTree(reports);
}

}  // namespace
