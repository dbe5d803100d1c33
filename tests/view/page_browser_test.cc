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
#include "view/browser.h"
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

// A report written here: /r holds big (with a and b), a name with a right-to-left override, a
// folder with a file dated in 2068, and many, with 500 subfolders: more than the table draws at
// once.
std::string keyboardReport() {
  const std::string mb = "\t1.049 MiB\t3\t01/01/26 10:00:00\r\n";
  std::string rows = "/r/big/a\t400.000 MB" + mb + "/r/big/b\t200.000 MB" + mb +
                     "/r/big\t600.000 MB" + mb + "/r/rlo\xE2\x80\xAEgpj.exe\t100.000 MB" + mb +
                     "/r/future\t50.000 MB\t1.049 MiB\t3\t01/01/68 10:00:00\r\n";
  for (int i = 0; i < 500; ++i) rows += "/r/many/n" + std::to_string(i) + "\t0.100 MB" + mb;
  rows += "/r/many\t50.000 MB" + mb + "/r\t800.000 MB" + mb;
  return "Treemeter v2.0\r\nGenerating stats for: /r\r\n"
         "Report includes folders equal or greater than 0.000 MB\r\nNo time filter specified\r\n"
         "path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n" +
         rows;
}

// What `capture` (a JavaScript expression) gives in the page right after the page has handled
// the next change of its fragment, which `act` causes; by default the fragment.
template <typename Action>
std::string afterFragmentChange(Browser& browser, Action act,
                                const std::string& capture = "decodeURIComponent(location.hash)") {
  evaluate(browser,
           "window.changed = new Promise((done) => addEventListener('hashchange', () => "
           "done(" +
               capture + "), {once: true})), 'waiting'");
  act();
  return evaluate(browser, "window.changed");
}

TEST(PageInBrowser, KeyboardSortsAndZoomsTheFilterSearchesEveryRowAndBackUndoesAZoom) {
  if (std::string why = browserUnavailable(); !why.empty()) GTEST_SKIP() << why;
  std::string top = makeTemporaryFolder();
  std::ofstream(top + "/report.tsv", std::ios::binary) << keyboardReport();
  ProgramOptions viewer;
  viewer.command = {TREEMETER_VIEW_PROGRAM};
  ProgramResult page = runProgram({top + "/report.tsv"}, viewer);
  ASSERT_EQ(page.exitStatus, 0) << page.err;
  std::ofstream(top + "/page.html", std::ios::binary) << page.out;

  Browser browser;
  ASSERT_TRUE(openBrowser(browser, "file://" + top + "/page.html", top + "/profile"))
      << browser.failure;
  const std::string rowPaths =
      "[...document.querySelectorAll('#rows tbody tr')].map((r) => r.cells[0].textContent)";

  // The override shows as its code, in the table and on the map, and nowhere as itself.
  EXPECT_EQ(evaluate(browser, rowPaths + ".includes('/r/rlo\u2039U+202E\u203Agpj.exe')"), "true");
  EXPECT_EQ(evaluate(browser,
                     "[...document.querySelectorAll('.cell')].some((c) => "
                     "c.textContent.startsWith('rlo\u2039U+202E\u203Agpj.exe'))"),
            "true");
  EXPECT_EQ(evaluate(browser, "document.body.textContent.includes('\u202E')"), "false");
  // Ages count back from the newest stamp that is not in the future.
  EXPECT_EQ(evaluate(browser,
                     "document.getElementById('legend').textContent.includes("
                     "'(2026-01-01)')"),
            "true");

  // The filter finds a row the table has not drawn yet.
  EXPECT_EQ(evaluate(browser, rowPaths + ".includes('/r/many/n499')"), "false");
  evaluate(browser, "document.getElementById('filter').focus()");
  typeText(browser, "N499");
  EXPECT_EQ(evaluate(browser, rowPaths + ".join()"), "/r/many/n499");
  EXPECT_EQ(evaluate(browser, "document.getElementById('table-summary').textContent"),
            "1 of 507 folders hold \"n499\", by total size, largest first. A heading's button "
            "sorts by its column.");

  // From the filter box, Tab reaches the first heading; Enter sorts by it, again the other way.
  typeText(browser, "");
  evaluate(browser, "document.getElementById('filter').value = ''");
  pressKey(browser, "Tab");
  EXPECT_EQ(evaluate(browser, "document.activeElement.textContent"), "path");
  pressKey(browser, "Enter");
  EXPECT_EQ(evaluate(browser, rowPaths + ".slice(0, 3).join()"), "/r,/r/big,/r/big/a");
  pressKey(browser, "Enter");
  EXPECT_EQ(evaluate(browser, rowPaths + ".slice(0, 2).join()"),
            "/r/rlo\xE2\x80\xB9U+202E\xE2\x80\xBAgpj.exe,/r/many/n99");
  EXPECT_EQ(evaluate(browser,
                     "document.querySelector('th[aria-sort]').dataset.key + ' ' + "
                     "document.querySelector('th[aria-sort]').getAttribute('aria-sort')"),
            "path descending");

  // From the top of the page, Tab reaches the largest folder on the map and Enter opens it, with
  // the focus on its largest subfolder; Back returns to the whole tree.
  evaluate(browser,
           "document.querySelector('h1').tabIndex = -1, document.querySelector('h1').focus()");
  pressKey(browser, "Tab");
  EXPECT_EQ(evaluate(browser, "document.activeElement.getAttribute('aria-label')"),
            "big, 600.000 MB");
  EXPECT_EQ(afterFragmentChange(browser, [&] { pressKey(browser, "Enter"); }), "#/r/big");
  EXPECT_EQ(evaluate(browser, "document.querySelector('#trail .here').textContent"), "big");
  EXPECT_EQ(evaluate(browser, "document.activeElement.getAttribute('aria-label')"),
            "a, 400.000 MB");
  EXPECT_EQ(afterFragmentChange(browser, [&] { evaluate(browser, "history.back()"); }), "");
  EXPECT_EQ(evaluate(browser, "document.querySelectorAll('#trail .here').length"), "0");

  // The tooltip tells of the folder under the mouse, also after a click zooms the map under it:
  // the right end of big's name strip, where big's second subfolder lies once big fills the map
  // (and not its first, which the click leaves with the focus).
  std::string strip =
      evaluate(browser,
               "(() => { const box = document.querySelector('.cell[aria-label^=big]')"
               ".getBoundingClientRect(); return (box.right - 20) + ' ' + "
               "(box.top + 7); })()");
  double x = std::stod(strip), y = std::stod(strip.substr(strip.find(' ')));
  moveMouse(browser, x, y);
  const std::string tipPath = "document.querySelector('#tip .tip-path').textContent";
  EXPECT_EQ(evaluate(browser, tipPath), "/r/big");
  EXPECT_EQ(afterFragmentChange(
                browser, [&] { click(browser, x, y); }, "location.hash + ' ' + " + tipPath),
            "#%2Fr%2Fbig /r/big/b");

  closeBrowser(browser);
  EXPECT_EQ(browser.failure, "");
  removeTree(top);
}

// Two scans of a tree, one before and one after a folder grew, one shrank, one was added, one
// removed and one crossed the threshold, compared: the page's summary, the colours of the map's
// folders and the table tell what was done, as far as the reports can tell it. The old scan
// lists folders of 1 MB and more, the new one all: so the removed folder is gone, and the added
// one, like the one that crossed, was below the old report's threshold as far as it can tell.
TEST(PageInBrowser, AComparisonShowsWhatWasDone) {
  if (std::string why = browserUnavailable(); !why.empty()) GTEST_SKIP() << why;
  constexpr std::int64_t kMB = 1 << 20;
  std::string top = makeTemporaryFolder();
  std::string tree = top + "/tree";
  makeFolder(tree);
  for (const char* folder : {"grows", "shrinks", "removed", "crosses", "stays"}) {
    makeFolder(tree + "/" + folder);
  }
  makeFile(tree + "/grows/f", 2 * kMB);
  makeFile(tree + "/shrinks/f", 3 * kMB);
  makeFile(tree + "/removed/f", 2 * kMB);
  makeFile(tree + "/crosses/f", kMB / 2);
  makeFile(tree + "/stays/f", 2 * kMB);
  // A folder that grows only through its subfolder, whose size text rounds the other way.
  makeFolder(tree + "/nested");
  makeFolder(tree + "/nested/inner");
  makeFile(tree + "/nested/inner/f", 1500000);
  makeFile(tree + "/nested/1000", 1000);
  std::ofstream(top + "/before.tsv", std::ios::binary)
      << runProgram({"no", "1MB", "0", "0", tree}).out;
  makeFile(tree + "/grows/f", 6 * kMB);
  makeFile(tree + "/nested/inner/f", 3500000);
  makeFile(tree + "/shrinks/f", kMB);
  removeTree(tree + "/removed");
  makeFile(tree + "/crosses/f", 5 * kMB / 2);
  makeFolder(tree + "/added");
  makeFile(tree + "/added/f", 5 * kMB / 2);
  std::ofstream(top + "/after.tsv", std::ios::binary)
      << runProgram({"no", "0", "0", "0", tree}).out;
  ProgramOptions viewer;
  viewer.command = {TREEMETER_VIEW_PROGRAM};
  ProgramResult page = runProgram({top + "/before.tsv", top + "/after.tsv"}, viewer);
  ASSERT_EQ(page.exitStatus, 0) << page.err;
  std::ofstream(top + "/page.html", std::ios::binary) << page.out;

  Browser browser;
  ASSERT_TRUE(openBrowser(browser, "file://" + top + "/page.html", top + "/profile"))
      << browser.failure;
  const std::string summary = "document.querySelector('#summary ";
  EXPECT_EQ(evaluate(browser, summary + ".counts').textContent"),
            "4 grew, 1 shrank, 1 unchanged, 1 gone, 2 below the threshold.");
  EXPECT_EQ(evaluate(browser, summary + ".total').textContent"),
            "In all: 10.931 MB to 17.339 MB, +6.408 MB (+58.6%).");
  // Most grown and most shrunk by their own change: the folders above them changed only through
  // them (nested's own change is the rounding of its text and inner's), and those the old report
  // left out grew by at least their size less its threshold.
  const std::string lists =
      "[...document.querySelectorAll('.most ol')].map((list) => [...list.children].map((item) => "
      "item.textContent.replace(/^.*\\/tree\\//, ''))).join(' | ')";
  EXPECT_EQ(evaluate(browser, lists),
            "grows +4.000 MB own,nested/inner +1.907 MB own,added \u2265 +1.499 MB own (below the "
            "threshold in the old "
            "report),crosses \u2265 +1.499 MB own (below the threshold in the old report) | "
            "removed \u22122.000 MB own (gone),shrinks \u22122.000 MB own");
  // Each folder's colour on the map, by its own change against the largest (4 MB): half of it and
  // more, a tenth to a half, none.
  const std::string colours =
      "[...document.querySelectorAll('.cell')].map((cell) => cell.getAttribute('aria-label') + "
      "' ' + cell.style.background).filter((text) => !text.startsWith('null')).sort().join(' | ')";
  EXPECT_EQ(evaluate(browser, colours),
            "added, 2.500 MB \u2265 +1.499 MB rgb(244, 165, 130) | crosses, 2.500 MB \u2265 "
            "+1.499 MB rgb(244, 165, 130) | grows, 6.000 MB +4.000 MB rgb(214, 96, 77) | nested, "
            "3.339 MB +1.908 MB rgb(242, 242, 242) | shrinks, 1.000 MB \u22122.000 MB "
            "rgb(146, 197, 222) | stays, 2.000 MB  rgb(242, 242, 242)");
  EXPECT_EQ(evaluate(browser, "document.getElementById('old-only-list').textContent"),
            "" + tree + "/removed 2.000 MB, gone");
  // The table, by path.
  evaluate(browser, "document.querySelector('th[data-key=path] button').click()");
  EXPECT_EQ(evaluate(browser,
                     "[...document.querySelectorAll('#rows tbody tr')].map((row) => [...row.cells]"
                     ".map((cell) => cell.textContent).join(';').replace(/^.*\\/tree/, ''))"
                     ".join(' | ')"),
            ";10.931 MB;17.339 MB;+6.408 MB;+58.6%;grew | /added;;2.500 MB;\u2265 +1.499 MB;;below "
            "the threshold in the old report | /crosses;;2.500 MB;\u2265 +1.499 MB;;below the "
            "threshold in the old report | /grows;2.000 MB;6.000 MB;+4.000 MB;+200.0%;grew | "
            "/nested;1.431 MB;3.339 MB;+1.908 MB;+133.3%;grew | /nested/inner;1.431 MB;3.338 MB;"
            "+1.907 MB;+133.3%;grew | /removed;2.000 MB;;\u22122.000 MB;\u2212100.0%;gone | "
            "/shrinks;3.000 MB;1.000 MB;\u22122.000 MB;\u221266.7%;shrank | /stays;2.000 MB;"
            "2.000 MB;unchanged;;unchanged");
  closeBrowser(browser);
  EXPECT_EQ(browser.failure, "");
  removeTree(top);
}

}  // namespace
