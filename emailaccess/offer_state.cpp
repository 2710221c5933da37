#include "emailaccess/offer_state.h"

#include "emailaccess/transport.h"
#include "platform/durable_file.h"
#include "platform/files.h"

#include <array>
#include <stdexcept>

namespace emailaccess {
namespace {

constexpr std::array<const char*, 3> kStatusNames = {"pending", "offered", "consumed"};
constexpr const char kHeader[] = "# LVEmailAccess intake state: status, exchange file, message key\n";

std::string Escape(const std::string& text) {
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

bool Unescape(const std::string& text, std::string& out) {
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

bool ParseLine(const std::string& line, OfferRecord& record) {
  size_t first = line.find('\t');
  size_t second = first == std::string::npos ? std::string::npos : line.find('\t', first + 1);
  if (second == std::string::npos || line.find('\t', second + 1) != std::string::npos) return false;
  const std::string status = line.substr(0, first);
  size_t index = 0;
  while (index < kStatusNames.size() && status != kStatusNames[index]) ++index;
  if (index == kStatusNames.size()) return false;
  record.status = static_cast<OfferStatus>(index);
  return Unescape(line.substr(first + 1, second - first - 1), record.exchangeFile) &&
         Unescape(line.substr(second + 1), record.key) && !record.exchangeFile.empty();
}

// A state file another program holds (a scanner, a backup) is a temporary
// failure: nothing was done, and the next run does it.
[[noreturn]] void ThrowStateFailure(const std::string& path, const std::string& what) {
  if (platform::IsHeldByAnotherProgram(path)) throw TransportError(what, true);
  throw std::runtime_error(what);
}

}  // namespace

std::vector<OfferRecord> LoadOfferRecords(const std::string& path, std::vector<std::string>& problems) {
  std::vector<OfferRecord> records;
  if (!platform::FileExists(path)) return records;
  std::string text, why;
  if (!platform::ReadWholeFile(path, text, &why)) ThrowStateFailure(path, "cannot read the intake state: " + why);
  size_t pos = 0;
  int lineNumber = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    OfferRecord record;
    if (ParseLine(line, record)) {
      records.push_back(std::move(record));
    } else {
      problems.push_back(path + ", line " + std::to_string(lineNumber) + ": damaged record left out");
    }
  }
  return records;
}

void SaveOfferRecords(const std::string& path, const std::vector<OfferRecord>& records) {
  std::string text = kHeader;
  for (const OfferRecord& record : records) {
    text += std::string(kStatusNames[static_cast<size_t>(record.status)]) + "\t" + Escape(record.exchangeFile) +
            "\t" + Escape(record.key) + "\n";
  }
  std::string why;
  if (!platform::ReplaceFileAtomically(path, text, &why)) ThrowStateFailure(path, "cannot save the intake state: " + why);
}

}  // namespace emailaccess
