#include "support/scripted_run.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "app/run.h"
#include "platform/interrupts.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::steady_clock;

// The run's clock, moved and frozen by the test's commands.
struct DrivenClock {
  std::mutex lock;
  std::condition_variable thawed;  // a reader of the frozen clock waits here until it thaws
  std::chrono::nanoseconds elapsed{0};
  bool frozen = false;
  int events = -1;
};

steady_clock::time_point readClock(DrivenClock& clock) {
  std::unique_lock<std::mutex> lock(clock.lock);
  if (clock.frozen) {
    [[maybe_unused]] ssize_t written = write(clock.events, "frozen\n", 7);
    clock.thawed.wait(lock, [&] { return !clock.frozen; });
  }
  return steady_clock::time_point(clock.elapsed);
}

void setFrozen(DrivenClock& clock, bool frozen) {
  std::lock_guard<std::mutex> lock(clock.lock);
  clock.frozen = frozen;
  clock.thawed.notify_all();
}

// One unit a byte, as the program takes a POSIX command line: 0x80 to 0xFF stay below U+0100.
std::u16string wideOf(const std::string& bytes) {
  return std::u16string(reinterpret_cast<const unsigned char*>(bytes.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size());
}

std::string narrowOf(const std::u16string& text) {
  return std::string(text.begin(), text.end());
}

// A line from `commands`; false at its end.
bool readCommand(int commands, std::string& line) {
  line.clear();
  for (char byte; read(commands, &byte, 1) == 1;) {
    if (byte == '\n') return true;
    line += byte;
  }
  return false;
}

// Follows the test's commands until it closes the channel.
void followCommands(int commands, ListingContext& listing, DrivenClock& clock) {
  for (std::string command; readCommand(commands, command);) {
    if (command.rfind("advance ", 0) == 0) {
      std::lock_guard<std::mutex> lock(clock.lock);
      clock.elapsed += milliseconds(std::stoll(command.substr(8)));
    } else if (command == "freeze" || command == "thaw") {
      setFrozen(clock, command == "freeze");
    } else if (command == "release") {
      releaseHeldFolders(listing);
    } else if (command == "await-interrupt") {
      while (interruptNoted() == 0) std::this_thread::sleep_for(milliseconds(1));
    } else {
      std::fprintf(stderr, "scripted run: unknown command \"%s\"\n", command.c_str());
      _exit(123);
    }
  }
}

}  // namespace

int runScriptedProgram(const ScriptedTree& script, std::size_t listers,
                       const std::vector<std::string>& arguments, const ChildChannels& channels) {
  ScriptedTree tree = script;
  tree.onHeld = [events = channels.events](const std::u16string& name) {
    std::string line = "held " + narrowOf(name) + "\n";
    [[maybe_unused]] ssize_t written = write(events, line.data(), line.size());
  };
  ListingContextPtr listing = makeScriptedListing(tree);
  DrivenClock clock;
  clock.events = channels.events;
  std::thread(followCommands, channels.commands, std::ref(*listing), std::ref(clock)).detach();
  std::vector<std::u16string> words = {u"treemeter"};
  for (const std::string& argument : arguments) words.push_back(wideOf(argument));
  watchForInterrupts();
  RunSources sources = {*listing, listers, [&clock] { return readClock(clock); }};
  // Ends here, while the listing and the clock that the command thread uses still stand.
  _exit(runTreemeter(words, sources));
}
