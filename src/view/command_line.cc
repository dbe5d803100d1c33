#include "view/command_line.h"

#include <algorithm>
#include <optional>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/date_order.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "report/output.h"
#include "view/comparison.h"
#include "view/comparison_page.h"
#include "view/csv.h"
#include "view/encode.h"
#include "view/page.h"
#include "view/report_reader.h"

namespace {

enum class OutputForm { kHtml, kCsv };

struct ViewCommand {
  OutputForm form = OutputForm::kHtml;
  bool help = false;
  bool version = false;
  std::optional<DateOrder> dateOrder;
  std::vector<std::u16string> reportNames;  // "-" for standard input
  std::string problem;  // why the command line cannot be followed; empty when it can
};

std::optional<DateOrder> dateOrderNamed(std::u16string_view name) {
  if (name == u"dmy") return DateOrder::kDayMonthYear;
  if (name == u"mdy") return DateOrder::kMonthDayYear;
  if (name == u"ymd") return DateOrder::kYearMonthDay;
  return std::nullopt;
}

ViewCommand readCommandLine(const std::vector<std::u16string>& arguments) {
  constexpr std::u16string_view kDateOrderOption = u"--date-order";
  ViewCommand command;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < arguments.size() && command.problem.empty(); ++i) {
    const std::u16string& argument = arguments[i];
    bool isOption = !optionsEnded && argument.size() > 1 && argument[0] == u'-';
    if (isOption && argument == u"--") {
      optionsEnded = true;
    } else if (isOption && argument == u"--html") {
      command.form = OutputForm::kHtml;
    } else if (isOption && argument == u"--csv") {
      command.form = OutputForm::kCsv;
    } else if (isOption && argument == u"--help") {
      command.help = true;
    } else if (isOption && argument == u"--version") {
      command.version = true;
    } else if (isOption && argument.compare(0, kDateOrderOption.size(), kDateOrderOption) == 0) {
      // --date-order dmy, or --date-order=dmy
      std::u16string_view rest = std::u16string_view(argument).substr(kDateOrderOption.size());
      bool joined = !rest.empty() && rest[0] == u'=';
      if (!rest.empty() && !joined) {
        command.problem = "unknown option " + outputBytes(argument);
        continue;
      }
      std::u16string_view value = joined ? rest.substr(1) : std::u16string_view();
      if (!joined && i + 1 < arguments.size()) value = arguments[++i];
      command.dateOrder = dateOrderNamed(value);
      if (!command.dateOrder) command.problem = "--date-order takes dmy, mdy or ymd";
    } else if (isOption) {
      command.problem = "unknown option " + outputBytes(argument);
    } else if (command.reportNames.size() == 2) {
      command.problem = "more than two reports named";
    } else {
      command.reportNames.push_back(argument);
    }
  }
  if (command.reportNames.empty()) command.reportNames.push_back(u"-");
  if (command.reportNames.size() == 2 && command.reportNames[0] == u"-" &&
      command.reportNames[1] == u"-") {
    command.problem = "standard input can hold only one of the two reports";
  }
  return command;
}

std::string helpText(const ViewProgram& program) {
  std::string name(program.name);
  return "Usage: " + name + " [--html | --csv] [--date-order dmy|mdy|ymd] [REPORT]\n" + "       " +
         name + " [--html | --csv] [--date-order dmy|mdy|ymd] OLD NEW\n" +
         "Turns a Treemeter report into one self-contained HTML page (a treemap of the folders\n"
         "and a sortable table) or into CSV with the sizes in bytes. Reads REPORT, or standard\n"
         "input when REPORT is missing or -, and writes standard output. Given two reports of\n"
         "one folder, OLD and NEW (one of them may be -), shows what changed between them.\n"
         "  --html        the page (the default)\n"
         "  --csv         CSV: path, total size, size on disk (both in bytes), file count,\n"
         "                latest file stamp, error; of two reports: path, old and new total\n"
         "                size and change (in bytes), state\n"
         "  --date-order  how to read the stamps' dates where the report's own stamps leave\n"
         "                the order open: day, month, year (dmy), mdy or ymd\n"
         "  --help        this text\n"
         "  --version     the version\n" +
         std::string(program.example);
}

// Text lines end as the platform's own do.
std::string withPlatformLineEnds(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += kDiagnosticLineEnd;
    } else {
      out += c;
    }
  }
  return out;
}

void sayOnStandardError(const ViewProgram& program, const std::string& message) {
  writeStandardError(std::string(program.name) + ": " + message + std::string(kDiagnosticLineEnd));
}

std::string systemMessageLine(std::uint32_t errorCode) {
  std::string message = outputBytes(systemMessageText(errorCode));
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(errorCode) : message;
}

int writeOutput(const ViewProgram& program, const std::string& output) {
  prepareStandardOutput();
  if (std::uint32_t failure = writeStandardOutput(output.data(), output.size()); failure != 0) {
    sayOnStandardError(program, "cannot write the output: " + systemMessageLine(failure));
    return kViewOutputLost;
  }
  return kViewDone;
}

std::string_view orderName(DateOrder order) {
  switch (order) {
    case DateOrder::kDayMonthYear:
      return "dmy";
    case DateOrder::kMonthDayYear:
      return "mdy";
    case DateOrder::kYearMonthDay:
      break;
  }
  return "ymd";
}

// The named report, read; a line on standard error and false when it cannot be.
bool readNamedReport(const ViewProgram& program, const ViewCommand& command,
                     const std::u16string& name, ViewReport& report) {
  bool standardInput = name == u"-";
  std::string inputName = standardInput ? "standard input" : outputBytes(name);
  std::string bytes;
  std::uint32_t failure = standardInput ? readStandardInput(bytes) : readWholeFile(name, bytes);
  if (failure != 0) {
    sayOnStandardError(program, "cannot read " + inputName + ": " + systemMessageLine(failure));
    return false;
  }
  ReadOptions options;
  options.statedOrder = command.dateOrder;
  options.localeOrder = userDateOrder();
  switch (readReport(std::move(bytes), options, report)) {
    case ReadOutcome::kRead:
      return true;
    case ReadOutcome::kNoHeader:
      sayOnStandardError(program, inputName + " is not a Treemeter report: it has no header line");
      return false;
    case ReadOutcome::kOrderContradicted:
      sayOnStandardError(program, inputName + " has the stamp \"" + report.orderWitness +
                                      "\", which --date-order " +
                                      std::string(orderName(*command.dateOrder)) + " cannot read");
      return false;
  }
  return false;
}

// The moment the page is made, in local time, as stampSeconds counts.
std::int64_t localSecondsNow() {
  SystemTime now;
  if (!toLocalSystemTime(currentFileTime(), now)) return 0;
  Stamp stamp;
  stamp.year = static_cast<std::int16_t>(now.year);
  stamp.month = static_cast<std::int8_t>(now.month);
  stamp.day = static_cast<std::int8_t>(now.day);
  stamp.hour = static_cast<std::int8_t>(now.hour);
  stamp.minute = static_cast<std::int8_t>(now.minute);
  stamp.second = static_cast<std::int8_t>(now.second);
  return stampSeconds(stamp);
}

std::string inputName(const std::u16string& name) {
  return name == u"-" ? "standard input" : outputBytes(name);
}

// A report's name as the page shows it, in UTF-8: a POSIX name's bytes (one a code unit) where
// they are UTF-8, else the name's characters (a Windows name is UTF-16).
std::string pageName(const std::u16string& name) {
  if (name == u"-") return "standard input";
  std::string bytes = outputBytes(name);
  bool oneByteUnits =
      std::all_of(name.begin(), name.end(), [](char16_t unit) { return unit <= 0xFF; });
  if (oneByteUnits && isWellFormedUtf8(bytes)) return bytes;
  std::string units;
  for (char16_t unit : name)
    units += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return utf8FromUtf16(units, false);
}

// The two reports compared: `before` is read already.
int runComparison(const ViewProgram& program, const ViewCommand& command,
                  const ViewReport& before) {
  ViewReport after;
  if (!readNamedReport(program, command, command.reportNames[1], after)) return kViewBadInput;
  std::string oldName = inputName(command.reportNames[0]);
  std::string newName = inputName(command.reportNames[1]);
  Comparison comparison = compareReports(before, after);
  if (!comparison.differentFolders.empty()) {
    sayOnStandardError(program,
                       oldName + " and " + newName +
                           " are reports of different folders: " + comparison.differentFolders);
    return kViewBadInput;
  }
  if (command.form == OutputForm::kCsv) {
    for (const auto& [report, name] :
         {std::pair<const ViewReport*, const std::string*>{&before, &oldName},
          {&after, &newName}}) {
      if (report->truncated) {
        sayOnStandardError(program, *name +
                                        " ends early, as an interrupted scan leaves it; "
                                        "folders it may not have reached are \"not reached\"");
      }
    }
    return writeOutput(program, csvChanges(comparison, before, after));
  }
  return writeOutput(program,
                     comparisonPage(comparison, before, pageName(command.reportNames[0]), after,
                                    pageName(command.reportNames[1]), localSecondsNow()));
}

}  // namespace

int runView(const std::vector<std::u16string>& arguments, const ViewProgram& program) {
  ViewCommand command = readCommandLine(arguments);
  if (!command.problem.empty()) {
    sayOnStandardError(program, command.problem + " (" + std::string(program.name) +
                                    " --help tells how to use it)");
    return kViewBadInput;
  }
  if (command.help) return writeOutput(program, withPlatformLineEnds(helpText(program)));
  if (command.version) {
    return writeOutput(
        program, withPlatformLineEnds(std::string(program.name) + " " TREEMETER_VERSION "\n"));
  }
  ViewReport report;
  if (!readNamedReport(program, command, command.reportNames[0], report)) return kViewBadInput;
  if (command.reportNames.size() == 2) return runComparison(program, command, report);
  if (command.form == OutputForm::kCsv) {
    if (report.truncated) {
      sayOnStandardError(program,
                         "the report ends early, as an interrupted scan leaves it; "
                         "the CSV holds what it has");
    }
    return writeOutput(program, csvTable(report));
  }
  return writeOutput(program, htmlPage(report, localSecondsNow()));
}
