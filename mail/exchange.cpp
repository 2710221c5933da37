#include "mail/exchange.h"

#include <ostream>

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

void WriteTagElement(std::string tagName, std::string value, std::ostream& out) {
  out << "<" << tagName << ">" << value << "</" << tagName << ">";
}

std::string OutgoingExchangeText(const std::vector<MailRecipient>& recipients, const std::string& body) {
  std::ostringstream text;
  int i = 1;
  for (const MailRecipient& r : recipients) {
    WriteTagElement("Recipient" + std::to_string(i), DisplayName(r.FirstName, r.MiddleName, r.LastName), text);
    text << "\n";
    WriteTagElement("Email" + std::to_string(i), r.Email, text);
    text << "\n";
    ++i;
  }
  WriteTagElement("Body", body, text);
  return text.str();
}

bool RunEmailAccess(RunLog& runLog, const std::string& exchangePath, int operation, const std::string& subject,
                    int flag) {
  // The copy installed beside this program wins; otherwise PATH decides.
  std::string program = PathBesideProgram(kMailAccessProgram);
  if (!platform::FileExists(program)) program = kMailAccessProgram;

  const platform::ProcessOutcome outcome =
      platform::RunAndWait(program, {std::to_string(operation), exchangePath, subject, std::to_string(flag)});
  if (!outcome.started) {
    runLog << "The mail-access program could not be started (" << program << "): " << outcome.error << std::endl;
    return false;
  }
  return true;
}

bool SendOutgoingExchange(RunLog& runLog, const std::string& exchangeText, int operation, const std::string& subject) {
  const std::string path = NewExchangeFilePath();
  runLog << "Creating output file: " << path << std::endl;
  if (!WriteTextFile(path, exchangeText)) runLog << "Could not write output file: " << path << std::endl;
  const bool ran = RunEmailAccess(runLog, path, operation, subject, 0);
  platform::RemoveFile(path);
  return ran;
}

bool ReadTextFile(const std::string& path, std::stringstream& stream) {
  stream.str("");
  stream.clear();
  std::string content;
  if (!platform::ReadWholeFile(path, content)) return false;
  stream << content;
  return true;
}

bool GetNumberedTagValue(const std::string& text, const std::string& tagName, int number, std::string& value) {
  const std::string name = tagName + std::to_string(number);
  return ExtractBetween(text, "<" + name + ">", "</" + name + ">", value);
}

std::vector<IncomingRecord> ReadIncomingRecords(const std::string& text, size_t limit) {
  std::vector<IncomingRecord> records;
  for (int n = 1; records.size() < limit; ++n) {
    IncomingRecord r;
    if (!GetNumberedTagValue(text, "Originator", n, r.originator)) break;
    if (!GetNumberedTagValue(text, "Date", n, r.date)) break;
    if (!GetNumberedTagValue(text, "Body", n, r.body)) break;
    records.push_back(std::move(r));
  }
  return records;
}
