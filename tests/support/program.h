// Runs the built treemeter program as a user would, and captures what it prints.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
  std::string out;
  std::string err;
  int exitStatus = -1;    // -1 when the program did not exit normally
  int signal = 0;         // the signal that ended the program, if one did
  bool timedOut = false;  // killed after ProgramOptions::timeoutSeconds
  // The size of the file standard output went to when the interrupt was sent, or -1.
  long outputBytesWhenInterrupted = -1;
  // How much of `err` the terminal had received when it narrowed (see
  // ProgramOptions::narrowedTerminalColumns); npos when it did not.
  std::size_t errNarrowedAt = std::string::npos;
};

struct ProgramOptions {
  // Extra environment entries ("NAME=value"), on top of TZ=UTC and LC_ALL=C, which they
  // override.
  std::vector<std::string> environment;
  // When the tests run as root, run the program as an unprivileged user so that permissions
  // stop listings as they would for anyone else. A test that sets it skips first when
  // unprivilegedRunUnavailable() gives a reason.
  bool unprivileged = false;
  // A shell command prefix such as "ulimit -n 64;" run before the program.
  std::string shellPrefix;
  // The program to run and any words before its arguments (a launcher and the program it
  // launches); the built treemeter program when empty.
  std::vector<std::string> command;
  // When not empty, standard output goes to this file (such as "/dev/full") instead of the pipe
  // the test reads.
  std::string standardOutputPath;
  // When 0 or more, the test reads this many bytes of standard output and then closes its end of
  // the pipe, as a reader that goes away does.
  long closeOutputAfterBytes = -1;
  // When more than 0, the program is killed if it runs longer than this.
  int timeoutSeconds = 0;
  // When more than 0, `interruptSignal` is sent to the program this long after it started.
  int interruptAfterMilliseconds = 0;
  int interruptSignal = 2;  // SIGINT
  // When more than 0, standard error is a pseudo-terminal this many columns wide, and
  // ProgramResult::err holds what the terminal received; with `outputOnTerminal`, standard output
  // writes to the same terminal.
  int terminalColumns = 0;
  bool outputOnTerminal = false;
  // When more than 0, that terminal narrows to this many columns as soon as it has received
  // anything, as a window that the user narrows.
  int narrowedTerminalColumns = 0;
};

// Runs the program with these arguments (program name not included).
ProgramResult runProgram(const std::vector<std::string>& arguments,
                         const ProgramOptions& options = ProgramOptions());

// The bytes of the banner line the program prints first, for the current year.
std::string bannerLine();

// What a run with a valid command line prints before its rows: the banner, the three settings
// lines and the header. `cutoffLine` is the third settings line without its line end.
std::string reportHead(const std::string& folder, const std::string& threshold,
                       const std::string& cutoffLine = "No time filter specified");

// True when the tests run with root's privileges.
bool runningAsRoot();

// Why the program cannot be run as an unprivileged user here (so that ProgramOptions::unprivileged
// would not take effect), or "" when it can or when the tests are unprivileged already.
std::string unprivilegedRunUnavailable();
