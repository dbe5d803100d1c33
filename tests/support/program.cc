#include "support/program.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr uid_t kNobody = 65534;

// Reads both pipes to their end. Standard output is closed early after `outputLimit` bytes when
// that is 0 or more; false when `deadline` (a CLOCK_MONOTONIC second, 0 for none) passes first.
bool readAll(int outFd, int errFd, std::string& out, std::string& err, long outputLimit,
             time_t deadline) {
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
    int waitMs = -1;
    if (deadline > 0) {
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (now.tv_sec >= deadline) {
        for (int i = 0; i < 2; ++i) {
          if (fds[i].fd >= 0) closeOne(i);
        }
        return false;
      }
      waitMs = static_cast<int>(deadline - now.tv_sec) * 1000;
    }
    if (poll(fds, 2, waitMs) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? out : err).append(buffer, static_cast<std::size_t>(got));
        if (i == 0 && outputLimit > 0 && static_cast<long>(out.size()) >= outputLimit) closeOne(0);
      } else {
        closeOne(i);
      }
    }
  }
  return true;
}

}  // namespace

bool runningAsRoot() { return geteuid() == 0; }

ProgramResult runProgram(const std::vector<std::string>& arguments, const ProgramOptions& options) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
  pid_t child = fork();
  if (child == 0) {
    dup2(outPipe[1], STDOUT_FILENO);
    if (!options.standardOutputPath.empty()) {
      int file = open(options.standardOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (file < 0 || dup2(file, STDOUT_FILENO) < 0) _exit(125);
      close(file);
    }
    dup2(errPipe[1], STDERR_FILENO);
    close(outPipe[0]);
    close(outPipe[1]);
    close(errPipe[0]);
    close(errPipe[1]);
    if (options.unprivileged && geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
    }
    // The first entry of a name is the one programs see, so the extra entries come first.
    std::vector<std::string> environment = options.environment;
    environment.insert(environment.end(), {"TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin"});
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv = options.command;
    if (argv.empty()) argv.push_back(TREEMETER_PROGRAM);
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
  ProgramResult result;
  time_t deadline = 0;
  if (options.timeoutSeconds > 0) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    deadline = now.tv_sec + options.timeoutSeconds;
  }
  if (!readAll(outPipe[0], errPipe[0], result.out, result.err, options.closeOutputAfterBytes,
               deadline)) {
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
