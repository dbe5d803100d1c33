// Runs the built treemeter program as a user would, or the run in a child of the test process
// over a scripted listing, and captures what it prints. A test can act on the program as it runs
// (narrow its terminal, interrupt it, tell it to go on) at moments it chooses by what the program
// has printed so far, never by the clock.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ProgramResult {
  std::string out;
  std::string err;
  int exitStatus = -1;    // -1 when the program did not exit normally
  int signal = 0;         // the signal that ended the program, if one did
  bool timedOut = false;  // killed after ProgramOptions::timeoutSeconds
  // What a program run in-process told the test on its events channel, line by line.
  std::string events;
  // The size of the file standard output went to when a signal was sent, or -1.
  long outputBytesWhenInterrupted = -1;
  // How much of `err` the terminal had received when it narrowed; npos when it did not.
  std::size_t errNarrowedAt = std::string::npos;
};

// The pipes between the test and a program run in-process in its child: the test writes lines to
// `commands`, and reads what the child writes to `events`.
struct ChildChannels {
  int commands = -1;
  int events = -1;
};

// Something the test does to the running program once `until` holds of what it has received so
// far: each field that is set is done, in the order closeOutput, narrowTerminalTo, holdTerminal,
// signal, tell.
struct ProgramStep {
  std::function<bool(const ProgramResult& soFar)> until;
  int narrowTerminalTo = 0;  // the terminal of standard error narrows to this many columns
  int signal = 0;            // sent to the program
  std::string tell;          // written to the commands channel
  // The terminal of standard error is put out of canonical mode, as a pager that holds it does.
  bool holdTerminal = false;
  // The test closes its end of standard output's pipe, as a reader that goes away does.
  bool closeOutput = false;
};

struct ProgramOptions {
  // Extra environment entries ("NAME=value"), on top of TZ=UTC and LC_ALL=C, which they
  // override; the program gets no other (no TERM, unless given here).
  std::vector<std::string> environment;
  // When the tests run as root, run the program as an unprivileged user so that permissions
  // stop listings as they would for anyone else. A test that sets it skips first when
  // unprivilegedRunUnavailable() gives a reason.
  bool unprivileged = false;
  // A shell command prefix such as "ulimit -n 64;" run before the program.
  std::string shellPrefix;
  // When set, the child runs this instead of a program, with the arguments and the environment
  // above, and ends with the status it returns.
  std::function<int(const std::vector<std::string>& arguments, const ChildChannels& channels)>
      inProcess;
  // Done one after the other as the program runs; a step whose moment never comes leaves the run
  // to its timeout.
  std::vector<ProgramStep> steps;
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
  // When more than 0, standard error is a pseudo-terminal this many columns wide, and
  // ProgramResult::err holds what the terminal received; with `outputOnTerminal`, standard output
  // writes to the same terminal.
  int terminalColumns = 0;
  bool outputOnTerminal = false;
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
