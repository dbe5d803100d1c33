#include "support/program.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

long millisecondsNow() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

// A signal to send the program once, at a CLOCK_MONOTONIC millisecond, while the pipes are read,
// noting how much of its report had reached its file by then.
struct PlannedInterrupt {
  long at = 0;  // 0: none
  pid_t child = 0;
  int signal = 0;
  std::string outputPath;
  long* outputBytes = nullptr;
};

void sendInterrupt(const PlannedInterrupt& interrupt) {
  struct stat status;
  if (stat(interrupt.outputPath.c_str(), &status) == 0) *interrupt.outputBytes = status.st_size;
  kill(interrupt.child, interrupt.signal);
}

// Sets the width of the pseudo-terminal whose controlling side is `terminal`.
bool setTerminalColumns(int terminal, int columns) {
  struct winsize size = {};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns);
  return ioctl(terminal, TIOCSWINSZ, &size) == 0;
}

// Reads both pipes to their end. Standard output is closed early after `outputLimit` bytes when
// that is 0 or more; false when `deadline` (a CLOCK_MONOTONIC second, 0 for none) passes first.
// With `narrowTo` columns, `errFd` is a terminal narrowed at its first bytes; `narrowedAt` tells
// how many it had received then.
bool readAll(int outFd, int errFd, std::string& out, std::string& err, long outputLimit,
             time_t deadline, PlannedInterrupt interrupt, int narrowTo, std::size_t& narrowedAt) {
  struct pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  char buffer[65536];
  auto closeOne = [&](int i) {
    close(fds[i].fd);
    fds[i].fd = -1;
    --open;
  };
  if (outputLimit == 0) closeOne(0);
  while (open > 0) {
    if (interrupt.at > 0 && millisecondsNow() >= interrupt.at) {
      sendInterrupt(interrupt);
      interrupt.at = 0;
    }
    int waitMs =
        interrupt.at > 0 ? static_cast<int>(std::max(0L, interrupt.at - millisecondsNow())) : -1;
    if (deadline > 0) {
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (now.tv_sec >= deadline) {
        for (int i = 0; i < 2; ++i) {
          if (fds[i].fd >= 0) closeOne(i);
        }
        return false;
      }
      int untilDeadline = static_cast<int>(deadline - now.tv_sec) * 1000;
      waitMs = waitMs < 0 ? untilDeadline : std::min(waitMs, untilDeadline);
    }
    if (poll(fds, 2, waitMs) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? out : err).append(buffer, static_cast<std::size_t>(got));
        if (i == 1 && narrowTo > 0 && narrowedAt == std::string::npos &&
            setTerminalColumns(errFd, narrowTo)) {
          narrowedAt = err.size();
        }
        if (i == 0 && outputLimit > 0 && static_cast<long>(out.size()) >= outputLimit) closeOne(0);
      } else {
        closeOne(i);
      }
    }
  }
  return true;
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
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
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
    close(outPipe[0]);
    close(outPipe[1]);
    close(errPipe[0]);
    close(errPipe[1]);
    if (dropPrivileges && !becomeNobody()) _exit(126);
    // The first entry of a name is the one programs see, so the extra entries come first.
    std::vector<std::string> environment = options.environment;
    environment.insert(environment.end(), {"TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin"});
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
  if (terminal >= 0) {
    close(errPipe[0]);
    errPipe[0] = terminal;
  }
  ProgramResult result;
  PlannedInterrupt interrupt;
  if (options.interruptAfterMilliseconds > 0) {
    interrupt = {millisecondsNow() + options.interruptAfterMilliseconds, child,
                 options.interruptSignal, options.standardOutputPath,
                 &result.outputBytesWhenInterrupted};
  }
  time_t deadline = 0;
  if (options.timeoutSeconds > 0) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    deadline = now.tv_sec + options.timeoutSeconds;
  }
  if (!readAll(outPipe[0], errPipe[0], result.out, result.err, options.closeOutputAfterBytes,
               deadline, interrupt, terminal >= 0 ? options.narrowedTerminalColumns : 0,
               result.errNarrowedAt)) {
    result.timedOut = true;
    kill(child, SIGKILL);
  }
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
