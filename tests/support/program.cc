#include "support/program.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

constexpr uid_t kNobody = 65534;

bool becomeNobody() {
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

// Why user nobody cannot run `path`, or "" when it can; checked as that user, in a child.
std::string whyNobodyCannotRun(const std::string& path) {
  int reasonPipe[2];
  if (pipe(reasonPipe) != 0) return std::string("cannot make a pipe: ") + strerror(errno);
  pid_t child = fork();
  if (child < 0) return std::string("cannot fork: ") + strerror(errno);
  if (child == 0) {
    close(reasonPipe[0]);
    std::string reason;
    if (!becomeNobody()) {
      reason = "cannot become uid " + std::to_string(kNobody) + ": " + strerror(errno);
    } else if (access(path.c_str(), X_OK) != 0) {
      reason = "uid " + std::to_string(kNobody) + " cannot run " + path + ": " + strerror(errno);
    }
    [[maybe_unused]] ssize_t written = write(reasonPipe[1], reason.data(), reason.size());
    _exit(0);
  }
  close(reasonPipe[1]);
  std::string reason;
  char buffer[512];
  for (ssize_t got; (got = read(reasonPipe[0], buffer, sizeof buffer)) > 0;) {
    reason.append(buffer, static_cast<std::size_t>(got));
  }
  close(reasonPipe[0]);
  waitpid(child, nullptr, 0);
  return reason;
}

// The built program may lie in a clone that other users cannot enter (a home, a mktemp folder),
// so runs as nobody use a copy in a folder that everyone can enter, made once per test process.
struct UnprivilegedProgram {
  std::string folder;
  std::string path;
  std::string unavailable;  // why nobody cannot run the copy; empty when it can
};

// Never destroyed, so that the exit handler that removes the copy can still read it.
UnprivilegedProgram* unprivilegedProgram = nullptr;

void removeUnprivilegedProgram() {
  unlink(unprivilegedProgram->path.c_str());
  rmdir(unprivilegedProgram->folder.c_str());
}

const UnprivilegedProgram& theUnprivilegedProgram() {
  if (unprivilegedProgram) return *unprivilegedProgram;
  unprivilegedProgram = new UnprivilegedProgram;
  UnprivilegedProgram& program = *unprivilegedProgram;
  char folder[] = "/tmp/treemeter-program-XXXXXX";
  if (!mkdtemp(folder)) {
    program.unavailable = std::string("cannot make a folder in /tmp: ") + strerror(errno);
    return program;
  }
  program.folder = folder;
  program.path = program.folder + "/treemeter";
  std::atexit(removeUnprivilegedProgram);
  std::error_code error;
  std::filesystem::copy_file(TREEMETER_PROGRAM, program.path, error);
  if (error) {
    program.unavailable = "cannot copy " + std::string(TREEMETER_PROGRAM) + " to " +
                          program.folder + ": " + error.message();
  } else if (chmod(folder, 0755) != 0 || chmod(program.path.c_str(), 0755) != 0) {
    program.unavailable = "cannot open " + program.path + " to all: " + strerror(errno);
  } else {
    program.unavailable = whyNobodyCannotRun(program.path);
  }
  return program;
}

// Sets the width of the pseudo-terminal whose controlling side is `terminal`.
bool setTerminalColumns(int terminal, int columns) {
  struct winsize size = {};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns);
  return ioctl(terminal, TIOCSWINSZ, &size) == 0;
}

// The program as the test sees it while it runs.
struct RunningProgram {
  pid_t child = 0;
  int terminal = -1;  // the controlling side of its terminal, if it has one
  int commands = -1;  // the commands channel, for a program run in-process
  std::string outputPath;
};

// Puts the terminal whose controlling side is `terminal` out of canonical mode (the settings are
// the terminal's, whichever side sets them).
void holdTerminal(int terminal) {
  struct termios settings;
  if (tcgetattr(terminal, &settings) != 0) return;
  settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  tcsetattr(terminal, TCSANOW, &settings);
}

void takeStep(const ProgramStep& step, const RunningProgram& program, ProgramResult& result) {
  if (step.narrowTerminalTo > 0 && program.terminal >= 0 &&
      setTerminalColumns(program.terminal, step.narrowTerminalTo)) {
    result.errNarrowedAt = result.err.size();
  }
  if (step.holdTerminal && program.terminal >= 0) holdTerminal(program.terminal);
  if (step.signal != 0) {
    struct stat status;
    if (!program.outputPath.empty() && stat(program.outputPath.c_str(), &status) == 0) {
      result.outputBytesWhenInterrupted = status.st_size;
    }
    kill(program.child, step.signal);
  }
  if (!step.tell.empty() && program.commands >= 0) {
    std::string line = step.tell + "\n";
    [[maybe_unused]] ssize_t written = write(program.commands, line.data(), line.size());
  }
}

// How often the steps still to come are looked at while nothing arrives: a step may wait for a
// file to grow, which no pipe announces.
constexpr int kStepLookMilliseconds = 10;

// Reads standard output, standard error and the events channel (where there is one) to their end,
// taking the steps as their moments come. Standard output is closed early after `outputLimit`
// bytes when that is 0 or more; false when `deadline` (a CLOCK_MONOTONIC second, 0 for none)
// passes first.
bool readAll(int outFd, int errFd, int eventsFd, ProgramResult& result, long outputLimit,
             time_t deadline, const std::vector<ProgramStep>& steps,
             const RunningProgram& program) {
  struct pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {eventsFd, POLLIN, 0}};
  std::string* into[3] = {&result.out, &result.err, &result.events};
  int open = eventsFd >= 0 ? 3 : 2;
  char buffer[65536];
  auto closeOne = [&](int i) {
    close(fds[i].fd);
    fds[i].fd = -1;
    --open;
  };
  if (outputLimit == 0) closeOne(0);
  std::size_t nextStep = 0;
  while (open > 0) {
    while (nextStep < steps.size() && (!steps[nextStep].until || steps[nextStep].until(result))) {
      if (steps[nextStep].closeOutput && fds[0].fd >= 0) closeOne(0);
      takeStep(steps[nextStep++], program, result);
    }
    int waitMs = nextStep < steps.size() ? kStepLookMilliseconds : -1;
    if (deadline > 0) {
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (now.tv_sec >= deadline) {
        for (int i = 0; i < 3; ++i) {
          if (fds[i].fd >= 0) closeOne(i);
        }
        return false;
      }
      int untilDeadline = static_cast<int>(deadline - now.tv_sec) * 1000;
      waitMs = waitMs < 0 ? untilDeadline : std::min(waitMs, untilDeadline);
    }
    if (poll(fds, 3, waitMs) < 0) continue;
    for (int i = 0; i < 3; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        into[i]->append(buffer, static_cast<std::size_t>(got));
        if (i == 0 && outputLimit > 0 && static_cast<long>(result.out.size()) >= outputLimit) {
          closeOne(0);
        }
      } else {
        closeOne(i);
      }
    }
  }
  return true;
}

// The environment of the program: the test's entries first, since the first entry of a name is
// the one programs see, then the defaults.
std::vector<std::string> programEnvironment(const ProgramOptions& options) {
  std::vector<std::string> environment = options.environment;
  environment.insert(environment.end(), {"TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin"});
  return environment;
}

// In the child: runs the program in-process with that environment alone, as a program started
// with it would have, and ends with its status.
[[noreturn]] void runInProcess(const std::vector<std::string>& arguments,
                               const ProgramOptions& options, const ChildChannels& channels) {
  clearenv();
  std::vector<std::string> environment = programEnvironment(options);
  for (auto entry = environment.rbegin(); entry != environment.rend(); ++entry) {
    std::size_t equals = entry->find('=');
    setenv(entry->substr(0, equals).c_str(), entry->substr(equals + 1).c_str(), 1);
  }
  tzset();
  _exit(options.inProcess(arguments, channels));
}

// The controlling side of a new pseudo-terminal `columns` wide; -1 when none can be made.
int openTerminal(int columns) {
  int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0) return -1;
  if (grantpt(terminal) != 0 || unlockpt(terminal) != 0 || !setTerminalColumns(terminal, columns)) {
    close(terminal);
    return -1;
  }
  return terminal;
}

}  // namespace

bool runningAsRoot() {
  return geteuid() == 0;
}

std::string unprivilegedRunUnavailable() {
  return runningAsRoot() ? theUnprivilegedProgram().unavailable : "";
}

ProgramResult runProgram(const std::vector<std::string>& arguments, const ProgramOptions& options) {
  // Before the pipes are made: the first call checks the copy in a child of its own.
  const bool dropPrivileges = options.unprivileged && runningAsRoot();
  std::string program = TREEMETER_PROGRAM;
  if (dropPrivileges && unprivilegedRunUnavailable().empty()) {
    program = theUnprivilegedProgram().path;
  }
  int outPipe[2], errPipe[2], commandPipe[2] = {-1, -1}, eventPipe[2] = {-1, -1};
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
  if (options.inProcess && (pipe(commandPipe) != 0 || pipe(eventPipe) != 0)) return {};
  int terminal = options.terminalColumns > 0 ? openTerminal(options.terminalColumns) : -1;
  pid_t child = fork();
  if (child == 0) {
    dup2(outPipe[1], STDOUT_FILENO);
    if (!options.standardOutputPath.empty()) {
      int file = open(options.standardOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (file < 0 || dup2(file, STDOUT_FILENO) < 0) _exit(125);
      close(file);
    }
    dup2(errPipe[1], STDERR_FILENO);
    if (terminal >= 0) {
      // A session of its own, whose controlling terminal the pseudo-terminal becomes.
      int side = setsid() < 0 ? -1 : open(ptsname(terminal), O_RDWR);
      if (side < 0 || dup2(side, STDERR_FILENO) < 0) _exit(124);
      if (options.outputOnTerminal) dup2(side, STDOUT_FILENO);
      close(side);
      close(terminal);
    }
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], commandPipe[1], eventPipe[0]}) {
      if (fd >= 0) close(fd);
    }
    if (dropPrivileges && !becomeNobody()) _exit(126);
    if (options.inProcess) runInProcess(arguments, options, {commandPipe[0], eventPipe[1]});
    std::vector<std::string> environment = programEnvironment(options);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv = options.command;
    if (argv.empty()) argv.push_back(program);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    if (!options.shellPrefix.empty()) {
      // sh -c 'prefix "$0" "$@"' program arguments...
      argv.insert(argv.begin(), {"/bin/sh", "-c", options.shellPrefix + " exec \"$0\" \"$@\""});
    }
    std::vector<char*> args;
    for (auto& argument : argv) args.push_back(argument.data());
    args.push_back(nullptr);
    execve(args[0], args.data(), envp.data());
    // Said on the program's standard error, so that a test never fails on a bare status 127.
    std::string failure = "cannot run " + argv[0] + ": " + strerror(errno) + "\n";
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, failure.data(), failure.size());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  for (int fd : {commandPipe[0], eventPipe[1]}) {
    if (fd >= 0) close(fd);
  }
  if (terminal >= 0) {
    close(errPipe[0]);
    errPipe[0] = terminal;
  }
  ProgramResult result;
  time_t deadline = 0;
  if (options.timeoutSeconds > 0) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    deadline = now.tv_sec + options.timeoutSeconds;
  }
  RunningProgram running = {child, terminal, commandPipe[1], options.standardOutputPath};
  if (!readAll(outPipe[0], errPipe[0], eventPipe[0], result, options.closeOutputAfterBytes,
               deadline, options.steps, running)) {
    result.timedOut = true;
    kill(child, SIGKILL);
  }
  if (commandPipe[1] >= 0) close(commandPipe[1]);
  int status = 0;
  waitpid(child, &status, 0);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

std::string bannerLine() {
  time_t now = time(nullptr);
  struct tm fields;
  localtime_r(&now, &fields);
  return "Treemeter v2.0 -- (c) " + std::to_string(fields.tm_year + 1900) +
         " the Treemeter developers. Reads folder listings only; changes nothing.\r\n";
}

std::string reportHead(const std::string& folder, const std::string& threshold,
                       const std::string& cutoffLine) {
  return bannerLine() + "Generating stats for: " + folder + "\r\n" +
         "Report includes folders equal or greater than " + threshold + "\r\n" + cutoffLine +
         "\r\n" + "path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n";
}
