#include "emailaccess/sent_register.h"

#include "emailaccess/offer_state.h"
#include "platform/durable_file.h"

#include <charconv>
#include <stdexcept>

namespace emailaccess {
namespace {

constexpr const char kHeader[] = "# LVEmailAccess mailings: sent at, Message-ID, recipient, subject\n";

bool ParseLine(const std::string& line, SentMailing& mailing) {
  const std::vector<std::string> fields = SplitRecordFields(line);
  if (fields.size() != 4) return false;
  const char* end = fields[0].data() + fields[0].size();
  const auto parsed = std::from_chars(fields[0].data(), end, mailing.sentAt);
  return parsed.ec == std::errc() && parsed.ptr == end && UnescapeRecordField(fields[1], mailing.messageId) &&
         !mailing.messageId.empty() && UnescapeRecordField(fields[2], mailing.recipient) &&
         UnescapeRecordField(fields[3], mailing.subject);
}

}  // namespace

std::vector<SentMailing> LoadSentMailings(const std::string& path, std::vector<std::string>& problems) {
  std::vector<SentMailing> mailings;
  ReadRecordLines(path, problems, [&](const std::string& line) {
    SentMailing mailing;
    if (!ParseLine(line, mailing)) return false;
    mailings.push_back(std::move(mailing));
    return true;
  });
  return mailings;
}

void RecordSentMailings(const std::string& path, const std::vector<SentMailing>& added, std::int64_t now,
                        int keptDays) {
  std::vector<std::string> problems;  // a damaged line is dropped with the old ones
  std::vector<SentMailing> kept = LoadSentMailings(path, problems);
  kept.insert(kept.end(), added.begin(), added.end());
  std::string text = kHeader;
  for (const SentMailing& mailing : kept) {
    if (mailing.sentAt < now - keptDays * kSecondsPerDay) continue;
    text += std::to_string(mailing.sentAt) + "\t" + EscapeRecordField(mailing.messageId) + "\t" +
            EscapeRecordField(mailing.recipient) + "\t" + EscapeRecordField(mailing.subject) + "\n";
  }
  std::string why;
  if (!platform::ReplaceFileAtomically(path, text, &why, true)) {
    throw std::runtime_error("cannot save the list of mailings sent: " + why);
  }
}

}  // namespace emailaccess
