#include "mail/exchange.h"

#include <algorithm>
#include <iostream>
#include <ostream>
#include <string_view>

#include "exchange/operations.h"
#include "exchange/outgoing.h"
#include "platform/durable_file.h"
#include "platform/files.h"
#include "platform/process.h"
#include "util/identifiers.h"
#include "util/text_files.h"

std::string NewExchangeFilePath() {
  std::string id = NewGuidString();
  // Braces are not welcome in file names; keep the bare 8-4-4-4-12 form.
  if (!id.empty()) id.pop_back();
  if (!id.empty()) id.erase(0, 1);
  return PathBesideProgram(id + ".tmp");
}

std::string MailingName(const std::string& kind, const std::string& id) {
  std::string registryForm = GuidKey(id);
  for (char& c : registryForm) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return kind + " {" + registryForm + "}";
}

std::string OutgoingExchangeText(const std::vector<MailRecipient>& recipients, const std::string& body,
                                 const std::string& mailing) {
  std::vector<exchange::Recipient> listed;
  listed.reserve(recipients.size());
  for (const MailRecipient& r : recipients) {
    listed.push_back({DisplayName(r.FirstName, r.MiddleName, r.LastName), r.Email});
  }
  return exchange::FormatOutgoing(listed, body, mailing);
}

namespace {

int g_jobStatus = 0;

// Higher is more serious; 0 is success.
int Seriousness(int status) {
  switch (status) {
    case 0: return 0;
    case exchange::kExitDataError: return 1;
    case exchange::kExitTemporary: return 2;
    case exchange::kExitConfig: return 4;
    default: return 3;
  }
}

}  // namespace

void RecordJobStatus(int status) {
  if (status != exchange::kExitDone && status != exchange::kExitDataError && status != exchange::kExitTemporary &&
      status != exchange::kExitConfig) {
    status = exchange::kExitFailure;
  }
  if (Seriousness(status) > Seriousness(g_jobStatus)) g_jobStatus = status;
}

namespace {

const char* MeaningOfStatus(int status) {
  switch (status) {
    case exchange::kExitUsage: return "bad arguments";
    case exchange::kExitDataError: return "some recipients have no usable e-mail address, the others were sent";
    case exchange::kExitTemporary: return "temporary failure, nothing is lost and the next run completes it";
    case exchange::kExitConfig:
      return "the settings or the login are wrong and a person must fix LVEmailAccess.conf";
    default: return "failure, see LVEmailAccess.log";
  }
}

constexpr size_t kMaxErrorLines = 20;
// A mailing tells one summary line; a reply pass a line per report it found.
constexpr size_t kMaxOutputLines = 1000;
constexpr size_t kMaxErrorLineBytes = 500;

// At most `limit` bytes of `line`, never ending inside a UTF-8 sequence.
std::string_view CutAt(std::string_view line, size_t limit) {
  if (line.size() <= limit) return line;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
  return line.substr(0, end);
}

// Writes the first `limit` lines of `text` into the run log, each after
// `indent` and cut to kMaxErrorLineBytes; returns how many it wrote.
size_t LogLines(RunLog& runLog, std::string_view text, std::string_view indent, size_t limit) {
  size_t shown = 0;
  while (!text.empty() && shown < limit) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    runLog << indent << CutAt(line, kMaxErrorLineBytes) << std::endl;
    ++shown;
  }
  return shown;
}

// The child's own words, so the office sees why without opening another log:
// its first lines, each indented by two blanks.
void LogErrorOutput(RunLog& runLog, const platform::ProcessOutcome& outcome) {
  const size_t shown = LogLines(runLog, outcome.errorOutput, "  ", kMaxErrorLines);
  if (outcome.errorLines > shown) {
    runLog << "  (" << outcome.errorLines - shown << " more line(s) left out)" << std::endl;
  }
}

}  // namespace

// Every run's outcome is kept (RecordJobStatus), so LvMAPI's exit status
// tells of the job's worst one.
int MailAccessJobStatus() { return g_jobStatus; }

void ResetMailAccessJobStatus() { g_jobStatus = 0; }

bool RunEmailAccess(RunLog& runLog, const std::string& exchangePath, int operation, const std::string& subject,
                    int flag, const std::string& linePrefix) {
  // The copy installed beside this program wins; otherwise PATH decides.
  const std::string program = platform::SiblingProgram(exchange::kMailAccessProgram);

  const platform::ProcessOutcome outcome =
      platform::RunAndWait(program, {std::to_string(operation), exchangePath, subject, std::to_string(flag)},
                           platform::ErrorOutput::Capture, platform::StandardOutput::Capture);
  if (!outcome.started) {
    runLog << "The mail-access program could not be started (" << program << "): " << outcome.error << std::endl;
    RecordJobStatus(exchange::kExitFailure);
    return false;
  }
  // What the program tells the office (where the mail went, what came
  // back), in its own plain words, line by line.
  LogLines(runLog, outcome.output, linePrefix, kMaxOutputLines);
  if (outcome.signal != 0) {
    runLog << "The mail-access program was stopped by signal " << outcome.signal << std::endl;
    RecordJobStatus(exchange::kExitFailure);
  } else if (outcome.exitCode != 0) {
    runLog << "The mail-access program ended with status " << outcome.exitCode << ": "
           << MeaningOfStatus(outcome.exitCode) << std::endl;
    RecordJobStatus(outcome.exitCode);
  }
  if (outcome.signal != 0 || outcome.exitCode != 0) LogErrorOutput(runLog, outcome);
  return true;
}

namespace {

// "Spring Ministry Survey: "; for a mailing without a title, its subject
// without the separator the title would follow ("Corvane Survey: ").
std::string TellingPrefix(const std::string& title, const std::string& subject) {
  std::string_view name = TrimBlanks(title);
  if (name.empty()) {
    name = subject;
    while (!name.empty() && std::string_view(" \t-:").find(name.back()) != std::string_view::npos) name.remove_suffix(1);
  }
  return name.empty() ? std::string() : std::string(name) + ": ";
}

}  // namespace

bool SendOutgoingExchange(RunLog& runLog, const std::string& exchangeText, int operation, const std::string& subject,
                          const std::string& title) {
  const std::string path = NewExchangeFilePath();
  runLog << "Creating output file: " << path << std::endl;
  // The list and the body may name people and what they told the church.
  std::string why;
  if (!WriteTextFile(path, exchangeText, platform::FileAccess::OwnerOnly, &why)) {
    // Started on a file that is not there, the program would only report
    // that, hiding the cause; nothing was sent, so the next run sends it.
    runLog << "Could not write output file: " << path << std::endl;
    runLog << "  " << why << std::endl;
    std::cerr << "LvMAPI: nothing sent: " << why << std::endl;
    // Held by another program it passes by itself; a full disk needs a person.
    RecordJobStatus(platform::IsHeldByAnotherProgram(path) ? exchange::kExitTemporary : exchange::kExitFailure);
    platform::RemoveFile(path);
    return false;
  }
  const bool ran = RunEmailAccess(runLog, path, operation, subject, 0, TellingPrefix(title, subject));
  DiscardExchangeFile(runLog, path);
  return ran;
}

namespace {

// Exchange files that could not be deleted yet, one path a line.
std::string LeftOverListPath() { return PathBesideProgram("LvMAPI.leftover"); }

std::vector<std::string> ListedLeftOvers() {
  std::string text;
  std::vector<std::string> paths;
  if (!platform::ReadWholeFile(LeftOverListPath(), text)) return paths;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
  }
  return paths;
}

void SaveLeftOvers(RunLog& runLog, const std::vector<std::string>& paths) {
  std::string text;
  for (const std::string& path : paths) text += path + "\n";
  std::string why;
  const bool saved = paths.empty() ? (platform::RemoveFile(LeftOverListPath()) || !platform::FileExists(LeftOverListPath()))
                                   : platform::ReplaceFileAtomically(LeftOverListPath(), text, &why);
  if (!saved) runLog << "Could not keep the list of exchange files left over: " << why << std::endl;
}

}  // namespace

void DiscardExchangeFile(RunLog& runLog, const std::string& path) {
  if (platform::RemoveFile(path) || !platform::FileExists(path)) return;
  runLog << "Could not delete the exchange file " << path << " (in use by another program); a later run deletes it"
         << std::endl;
  std::vector<std::string> paths = ListedLeftOvers();
  if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
  SaveLeftOvers(runLog, paths);
}

void DeleteLeftOverExchangeFiles(RunLog& runLog) {
  const std::vector<std::string> listed = ListedLeftOvers();
  if (listed.empty()) return;
  std::vector<std::string> still;
  for (const std::string& path : listed) {
    if (platform::RemoveFile(path) || !platform::FileExists(path)) {
      runLog << "Deleted the exchange file left over by an earlier run: " << path << std::endl;
    } else {
      still.push_back(path);
    }
  }
  SaveLeftOvers(runLog, still);
}

bool ReadTextFile(const std::string& path, std::stringstream& stream) {
  stream.str("");
  stream.clear();
  std::string content;
  if (!platform::ReadWholeFile(path, content)) return false;
  stream << content;
  return true;
}
