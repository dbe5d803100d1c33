#include "view/command_line.h"

#include "platform/console.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "report/output.h"
#include "view/csv.h"
#include "view/page.h"
#include "view/report_reader.h"

namespace {

enum class OutputForm { kHtml, kCsv };

struct ViewCommand {
  OutputForm form = OutputForm::kHtml;
  bool help = false;
  bool version = false;
  std::u16string reportName;  // empty for standard input
  std::string problem;        // why the command line cannot be followed; empty when it can
};

ViewCommand readCommandLine(const std::vector<std::u16string>& arguments) {
  ViewCommand command;
  bool optionsEnded = false;
  bool reportNamed = false;
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
    } else if (isOption) {
      command.problem = "unknown option " + outputBytes(argument);
    } else if (reportNamed) {
      command.problem = "more than one report named";
    } else {
      reportNamed = true;
      if (argument != u"-") command.reportName = argument;
    }
  }
  return command;
}

std::string helpText(std::string_view program) {
  std::string name(program);
  return "Usage: " + name +
         " [--html | --csv] [REPORT]\n"
         "Turns a Treemeter report into one self-contained HTML page (a treemap of the folders\n"
         "and a sortable table) or into CSV with the sizes in bytes. Reads REPORT, or standard\n"
         "input when REPORT is missing or -, and writes standard output.\n"
         "  --html     the page (the default)\n"
         "  --csv      CSV: path, total bytes, bytes on disk, file count, latest file stamp, "
         "error\n"
         "  --help     this text\n"
         "  --version  the version\n"
         "Example: treemeter no 1MB 0 3 /srv > srv.tsv && " +
         name + " srv.tsv > srv.html\n";
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

void sayOnStandardError(std::string_view program, const std::string& message) {
  writeStandardError(std::string(program) + ": " + message + std::string(kDiagnosticLineEnd));
}

std::string systemMessageLine(std::uint32_t errorCode) {
  std::string message = outputBytes(systemMessageText(errorCode));
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(errorCode) : message;
}

int writeOutput(std::string_view program, const std::string& output) {
  prepareStandardOutput();
  if (std::uint32_t failure = writeStandardOutput(output.data(), output.size()); failure != 0) {
    sayOnStandardError(program, "cannot write the output: " + systemMessageLine(failure));
    return kViewOutputLost;
  }
  return kViewDone;
}

}  // namespace

int runView(const std::vector<std::u16string>& arguments, std::string_view programName) {
  ViewCommand command = readCommandLine(arguments);
  if (!command.problem.empty()) {
    sayOnStandardError(programName, command.problem + " (" + std::string(programName) +
                                        " --help tells how to use it)");
    return kViewBadInput;
  }
  if (command.help) return writeOutput(programName, withPlatformLineEnds(helpText(programName)));
  if (command.version) {
    return writeOutput(programName,
                       withPlatformLineEnds(std::string(programName) + " " TREEMETER_VERSION "\n"));
  }
  std::string bytes;
  std::string inputName =
      command.reportName.empty() ? "standard input" : outputBytes(command.reportName);
  std::uint32_t failure = command.reportName.empty() ? readStandardInput(bytes)
                                                     : readWholeFile(command.reportName, bytes);
  if (failure != 0) {
    sayOnStandardError(programName, "cannot read " + inputName + ": " + systemMessageLine(failure));
    return kViewBadInput;
  }
  ViewReport report;
  if (!readReport(bytes, report)) {
    sayOnStandardError(programName,
                       inputName + " is not a Treemeter report: it has no header line");
    return kViewBadInput;
  }
  if (command.form == OutputForm::kCsv) {
    if (report.truncated) {
      sayOnStandardError(programName,
                         "the report ends early, as an interrupted scan leaves it; "
                         "the CSV holds what it has");
    }
    return writeOutput(programName, csvTable(report));
  }
  return writeOutput(programName, htmlPage(report));
}
