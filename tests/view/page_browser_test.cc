// The page in a browser: treemeter's report of a tree whose names are markup, quotes, bytes that
// are not UTF-8 and a line separator, with deep folders and one that cannot be read, turned into
// a page and loaded in headless Chromium with its script run; then the page as the browser built
// it is checked.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/program.h"
#include "support/tree.h"
#include "view/encode.h"

namespace {

constexpr const char* kChromium = "/usr/bin/chromium";

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(PageInBrowser, EveryRowIsARowAndARectangleAndNoNameBecomesMarkup) {
  if (access(kChromium, X_OK) != 0) {
    GTEST_SKIP() << kChromium << " is not installed (Debian package chromium)";
  }
  if (std::string why = unprivilegedRunUnavailable(); !why.empty()) GTEST_SKIP() << why;
  constexpr std::int64_t kMiB = 1 << 20;
  std::string top = makeTemporaryFolder();
  std::string tree = top + "/<img src=x onerror=alert(1)>";
  std::string deep = tree + "/deep";
  // The folders are /<, /<+/script> (whose path holds "</script>"), and so on; 14 with the tree.
  for (const std::string& folder :
       {tree, tree + "/<", tree + "/</script>", tree + "/\"&'", tree + "/bad\xFF\xFEname",
        tree + "/line\xE2\x80\xA8sep", deep, deep + "/1", deep + "/1/2", deep + "/1/2/3",
        deep + "/1/2/3/4", deep + "/1/2/3/4/5", deep + "/1/2/3/4/5/6", deep + "/1/2/3/4/5/6/7"}) {
    makeFolder(folder);
    makeFile(folder + "/file", folder == deep + "/1/2/3/4/5/6/7" ? 64 * kMiB : 4 * kMiB);
  }
  makeFolder(tree + "/</script>/locked");
  chmod((tree + "/</script>/locked").c_str(), 0);
  ProgramOptions unprivileged;
  unprivileged.unprivileged = true;
  ProgramResult scan = runProgram({"no", "0", "0", "0", tree}, unprivileged);
  std::ofstream(top + "/report.tsv", std::ios::binary) << scan.out;
  ASSERT_EQ(occurrences(scan.out, "Error accessing folder: "), 1u) << scan.out;

  ProgramOptions viewer;
  viewer.command = {TREEMETER_VIEW_PROGRAM};
  ProgramResult page = runProgram({top + "/report.tsv"}, viewer);
  ASSERT_EQ(page.exitStatus, 0) << page.err;
  EXPECT_EQ(utf8Text(page.out, TextEncoding::kUtf8), page.out) << "the page is not valid UTF-8";
  std::ofstream(top + "/page.html", std::ios::binary) << page.out;

  ProgramOptions browser;
  browser.command = {kChromium,
                     "--headless",
                     "--no-sandbox",
                     "--disable-gpu",
                     "--disable-quic",
                     "--no-first-run",
                     "--disable-background-networking",
                     "--disable-component-update",
                     "--disable-sync",
                     "--user-data-dir=" + top + "/browser-profile",
                     "--window-size=1200,900",
                     "--virtual-time-budget=5000",
                     "--dump-dom"};
  browser.environment = {"HOME=" + top};
  browser.timeoutSeconds = 60;
  ProgramResult dom = runProgram({"file://" + top + "/page.html"}, browser);
  removeTree(top);
  ASSERT_EQ(dom.exitStatus, 0) << dom.err;

  // A table row (and the heading's) and a rectangle for each of the 14 folders.
  EXPECT_EQ(occurrences(dom.out, "<tr>"), 1u + 14u) << dom.out;
  EXPECT_EQ(occurrences(dom.out, "<div class=\"cell"), 14u) << dom.out;
  // No element came from a name: the page's two scripts and no image.
  EXPECT_EQ(occurrences(dom.out, "<script"), 2u) << dom.out;
  EXPECT_EQ(dom.out.find("<img"), std::string::npos) << dom.out;
  // The names as text, the bytes that are not UTF-8 as U+FFFD.
  for (const char* text :
       {"<h1>/tmp/treemeter-test-", "/&lt;img src=x onerror=alert(1)&gt;</h1>",
        "&lt;img src=x onerror=alert(1)&gt;/&lt;/script&gt;</td>", "/\"&amp;'</td>",
        "/bad\xEF\xBF\xBD\xEF\xBF\xBDname</td>", "/line\xE2\x80\xA8sep</td>",
        "&lt;/script&gt;/locked</span><span class=\"error-text\">(13): Permission denied</span>"}) {
    EXPECT_NE(dom.out.find(text), std::string::npos) << text << "\n" << dom.out;
  }
}

}  // namespace
