// Headless Chromium driven over its DevTools protocol on a pipe, for the pages' tests: a page is
// loaded, keys are pressed as a user presses them (trusted events: Tab moves the focus, Enter
// presses a button), and the page is asked what it shows. Nothing waits for time to pass: each
// step waits for the browser's answer, or for an event the page itself fires.
#pragma once

#include <sys/types.h>

#include <string>

struct Browser {
  pid_t process = -1;
  int commands = -1;  // what the browser reads
  int answers = -1;   // what it writes
  std::string session;
  int lastId = 0;
  std::string unread;  // answers read past the one asked for
  std::string events;  // the names of the events passed over, a line each
  std::string profile;
  std::string failure;  // why the browser stopped answering; empty while it answers
};

// Why the tests cannot drive a browser here, or "" when they can.
std::string browserUnavailable();

// Starts the browser on `url` (a window 1200 by 900), and waits until the page has loaded.
bool openBrowser(Browser& browser, const std::string& url, const std::string& profileFolder);

// The value of a JavaScript expression in the page, as text (String(value)); a promise is
// awaited first.
std::string evaluate(Browser& browser, const std::string& expression);

// Presses and releases a key: "Tab", "Enter", "Escape".
void pressKey(Browser& browser, const std::string& key);

// Types text into the element that has the focus.
void typeText(Browser& browser, const std::string& text);

// Moves the mouse to a point of the window, and clicks there with the left button.
void moveMouse(Browser& browser, double x, double y);
void click(Browser& browser, double x, double y);

void closeBrowser(Browser& browser);
