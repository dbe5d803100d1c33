#include "view/browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <vector>

namespace {

constexpr const char* kChromium = "/usr/bin/chromium";
// How long an answer may take before the browser is taken for hung: far beyond any step's need.
constexpr int kAnswerMilliseconds = 120000;

// A JSON string's text, quotes included, for a command.
std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The JSON string that starts at `at` (its opening quote), unescaped; `at` ends past it.
std::string readJsonString(const std::string& json, std::size_t& at) {
  std::string out;
  auto appendUtf8 = [&](unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  };
  for (++at; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] != '\\') {
      out += json[at];
      continue;
    }
    char escaped = json[++at];
    switch (escaped) {
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'u': {
        unsigned code = std::stoul(json.substr(at + 1, 4), nullptr, 16);
        at += 4;
        if (code >= 0xD800 && code <= 0xDBFF && json.compare(at + 1, 2, "\\u") == 0) {
          unsigned low = std::stoul(json.substr(at + 3, 4), nullptr, 16);
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          at += 6;
        }
        appendUtf8(code);
        break;
      }
      default:
        out += escaped;
    }
  }
  ++at;
  return out;
}

// The string value of `"name":"..."` in a message, or "" when it has none.
std::string stringField(const std::string& message, const std::string& name) {
  std::size_t at = message.find("\"" + name + "\":\"");
  if (at == std::string::npos) return "";
  at += name.size() + 3;
  return readJsonString(message, at);
}

// The next message that begins with `start`; the messages before it are passed over, but the
// events among them are noted in `events`.
std::string nextMessage(Browser& browser, const std::string& start, const std::string& awaited) {
  for (;;) {
    for (std::size_t end; (end = browser.unread.find('\0')) != std::string::npos;) {
      std::string message = browser.unread.substr(0, end);
      browser.unread.erase(0, end + 1);
      if (message.compare(0, start.size(), start) == 0) return message;
      browser.events += stringField(message, "method") + "\n";
    }
    pollfd ready = {browser.answers, POLLIN, 0};
    char buffer[65536];
    ssize_t got = poll(&ready, 1, kAnswerMilliseconds) == 1
                      ? read(browser.answers, buffer, sizeof buffer)
                      : -1;
    if (got <= 0) {
      browser.failure = "the browser did not send " + awaited;
      return "";
    }
    browser.unread.append(buffer, static_cast<std::size_t>(got));
  }
}

// Sends a command and returns the browser's answer to it (a whole message).
std::string command(Browser& browser, const std::string& method, const std::string& params) {
  if (!browser.failure.empty()) return "";
  int id = ++browser.lastId;
  std::string message =
      "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method + "\",\"params\":" + params +
      (browser.session.empty() ? "" : ",\"sessionId\":\"" + browser.session + "\"") + "}";
  message += '\0';
  // A browser gone away fails the write, rather than ending the tests by SIGPIPE.
  struct sigaction ignore = {}, previous;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  for (std::size_t sent = 0; sent < message.size() && browser.failure.empty();) {
    ssize_t wrote = write(browser.commands, message.data() + sent, message.size() - sent);
    if (wrote <= 0)
      browser.failure = "cannot write to the browser: " + std::string(strerror(errno));
    sent += static_cast<std::size_t>(wrote > 0 ? wrote : 0);
  }
  sigaction(SIGPIPE, &previous, nullptr);
  if (!browser.failure.empty()) return "";
  return nextMessage(browser, "{\"id\":" + std::to_string(id) + ",", method);
}

}  // namespace

std::string browserUnavailable() {
  if (access(kChromium, X_OK) != 0) {
    return std::string(kChromium) + " is not installed (Debian package chromium)";
  }
  return "";
}

bool openBrowser(Browser& browser, const std::string& url, const std::string& profileFolder) {
  int toBrowser[2], fromBrowser[2];
  if (pipe(toBrowser) != 0 || pipe(fromBrowser) != 0) return false;
  browser.profile = profileFolder;
  browser.process = fork();
  if (browser.process == 0) {
    // The protocol's pipe: the browser reads descriptor 3 and writes descriptor 4.
    dup2(toBrowser[0], 3);
    dup2(fromBrowser[1], 4);
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    dup2(quiet, 2);
    for (int fd = 5; fd < 1024; ++fd) close(fd);
    std::string profile = "--user-data-dir=" + profileFolder;
    std::vector<const char*> words = {kChromium,
                                      "--headless",
                                      "--no-sandbox",
                                      "--disable-gpu",
                                      "--no-first-run",
                                      "--disable-background-networking",
                                      "--disable-component-update",
                                      "--disable-sync",
                                      "--remote-debugging-pipe",
                                      "--window-size=1200,900",
                                      profile.c_str(),
                                      "about:blank",
                                      nullptr};
    setenv("HOME", profileFolder.c_str(), 1);
    execv(kChromium, const_cast<char* const*>(words.data()));
    _exit(127);
  }
  close(toBrowser[0]);
  close(fromBrowser[1]);
  browser.commands = toBrowser[1];
  browser.answers = fromBrowser[0];
  std::string target = stringField(
      command(browser, "Target.createTarget", "{\"url\":" + jsonString(url) + "}"), "targetId");
  browser.session =
      stringField(command(browser, "Target.attachToTarget",
                          "{\"targetId\":" + jsonString(target) + ",\"flatten\":true}"),
                  "sessionId");
  if (browser.session.empty() && browser.failure.empty()) browser.failure = "no page to attach to";
  // The page is loaded into the blank one, once its load can be told.
  command(browser, "Page.enable", "{}");
  command(browser, "Page.navigate", "{\"url\":" + jsonString(url) + "}");
  if (browser.events.find("Page.loadEventFired\n") == std::string::npos) {
    nextMessage(browser, "{\"method\":\"Page.loadEventFired\"", "Page.loadEventFired");
  }
  return browser.failure.empty();
}

std::string evaluate(Browser& browser, const std::string& expression) {
  std::string answer = command(
      browser, "Runtime.evaluate",
      "{\"expression\":" + jsonString("Promise.resolve((" + expression + ")).then(String)") +
          ",\"awaitPromise\":true,\"returnByValue\":true}");
  if (answer.find("\"exceptionDetails\"") != std::string::npos) {
    return "exception: " + stringField(answer, "description");
  }
  return stringField(answer, "value");
}

void pressKey(Browser& browser, const std::string& key) {
  struct Key {
    const char* name;
    int code;
    const char* text;
  };
  static const Key kKeys[] = {{"Tab", 9, ""}, {"Enter", 13, "\r"}, {"Escape", 27, ""}};
  for (const Key& known : kKeys) {
    if (key != known.name) continue;
    std::string fields = "\"key\":" + jsonString(key) + ",\"code\":" + jsonString(key) +
                         ",\"windowsVirtualKeyCode\":" + std::to_string(known.code);
    std::string text = *known.text ? ",\"text\":" + jsonString(known.text) : "";
    command(browser, "Input.dispatchKeyEvent", "{\"type\":\"keyDown\"," + fields + text + "}");
    command(browser, "Input.dispatchKeyEvent", "{\"type\":\"keyUp\"," + fields + "}");
  }
}

void typeText(Browser& browser, const std::string& text) {
  command(browser, "Input.insertText", "{\"text\":" + jsonString(text) + "}");
}

void moveMouse(Browser& browser, double x, double y) {
  std::ostringstream event;
  event << "{\"type\":\"mouseMoved\",\"x\":" << x << ",\"y\":" << y << "}";
  command(browser, "Input.dispatchMouseEvent", event.str());
}

void click(Browser& browser, double x, double y) {
  for (const char* type : {"mousePressed", "mouseReleased"}) {
    std::ostringstream event;
    event << "{\"type\":\"" << type << "\",\"x\":" << x << ",\"y\":" << y
          << ",\"button\":\"left\",\"clickCount\":1}";
    command(browser, "Input.dispatchMouseEvent", event.str());
  }
}

void closeBrowser(Browser& browser) {
  if (browser.process <= 0) return;
  browser.session.clear();
  command(browser, "Browser.close", "{}");
  close(browser.commands);
  close(browser.answers);
  int status;
  // A browser that did not take the command to close is ended.
  if (!browser.failure.empty()) kill(browser.process, SIGKILL);
  waitpid(browser.process, &status, 0);
  browser.process = -1;
}
