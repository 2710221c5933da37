#include "emailaccess/offer_state.h"

#include "emailaccess/transport.h"
#include "platform/durable_file.h"
#include "platform/files.h"

#include <array>
#include <stdexcept>

namespace emailaccess {
namespace {

constexpr std::array<const char*, 3> kStatusNames = {"pending", "offered", "consumed"};
constexpr const char kHeader[] = "# LVEmailAccess intake state: status, exchange file, message key, reply number\n";

}  // namespace

std::string EscapeRecordField(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '%': out += "%25"; break;
      case '\t': out += "%09"; break;
      case '\r': out += "%0D"; break;
      case '\n': out += "%0A"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

bool UnescapeRecordField(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    const std::string code = text.substr(i + 1, 2);
    if (code == "25") out.push_back('%');
    else if (code == "09") out.push_back('\t');
    else if (code == "0D") out.push_back('\r');
    else if (code == "0A") out.push_back('\n');
    else return false;
    i += 2;
  }
  return true;
}

std::vector<std::string> SplitRecordFields(const std::string& line) {
  std::vector<std::string> fields;
  for (size_t at = 0;;) {
    const size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) break;
    at = tab + 1;
  }
  return fields;
}

namespace {

bool ParseLine(const std::string& line, OfferRecord& record) {
  size_t first = line.find('\t');
  size_t second = first == std::string::npos ? std::string::npos : line.find('\t', first + 1);
  if (second == std::string::npos) return false;
  // The reply number came later: a line without it is an older state's.
  const size_t third = line.find('\t', second + 1);
  if (third != std::string::npos) {
    const std::string number = line.substr(third + 1);
    if (number.empty() || number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos) return false;
    record.number = std::stoi(number);
  }
  const std::string status = line.substr(0, first);
  size_t index = 0;
  while (index < kStatusNames.size() && status != kStatusNames[index]) ++index;
  if (index == kStatusNames.size()) return false;
  record.status = static_cast<OfferStatus>(index);
  return UnescapeRecordField(line.substr(first + 1, second - first - 1), record.exchangeFile) &&
         UnescapeRecordField(
             line.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1), record.key) &&
         !record.exchangeFile.empty();
}

// A state file another program holds (a scanner, a backup) is a temporary
// failure: nothing was done, and the next run does it.
[[noreturn]] void ThrowStateFailure(const std::string& path, const std::string& what) {
  if (platform::IsHeldByAnotherProgram(path)) throw TransportError(what, true);
  throw std::runtime_error(what);
}

}  // namespace

bool ReadRecordLines(const std::string& path, std::vector<std::string>& problems,
                     const std::function<bool(const std::string&)>& parse) {
  if (!platform::FileExists(path)) return true;
  std::string text, why;
  if (!platform::ReadWholeFile(path, text, &why)) {
    problems.push_back(why);
    return false;
  }
  size_t pos = 0;
  int lineNumber = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    if (!parse(line)) problems.push_back(path + ", line " + std::to_string(lineNumber) + ": damaged record left out");
  }
  return true;
}

std::vector<OfferRecord> LoadOfferRecords(const std::string& path, std::vector<std::string>& problems) {
  std::vector<OfferRecord> records;
  const bool read = ReadRecordLines(path, problems, [&](const std::string& line) {
    OfferRecord record;
    if (!ParseLine(line, record)) return false;
    records.push_back(std::move(record));
    return true;
  });
  // Going on without the records could leave exchange files behind for good.
  if (!read) ThrowStateFailure(path, "cannot read the intake state: " + problems.back());
  return records;
}

void SaveOfferRecords(const std::string& path, const std::vector<OfferRecord>& records) {
  std::string text = kHeader;
  for (const OfferRecord& record : records) {
    text += std::string(kStatusNames[static_cast<size_t>(record.status)]) + "\t" + EscapeRecordField(record.exchangeFile) +
            "\t" + EscapeRecordField(record.key) + "\t" + std::to_string(record.number) + "\n";
  }
  std::string why;
  if (!platform::ReplaceFileAtomically(path, text, &why)) ThrowStateFailure(path, "cannot save the intake state: " + why);
}

}  // namespace emailaccess
