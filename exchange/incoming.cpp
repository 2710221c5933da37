#include "exchange/incoming.h"

#include <utility>

#include "exchange/elements.h"
#include "util/identifiers.h"

namespace exchange {
namespace {

std::size_t AppendIncomingRecord(std::string& out, int number, const IncomingRecord& reply) {
  std::size_t broken = 0;
  const std::string digits = std::to_string(number);
  for (const auto& [name, value] : {std::pair<std::string_view, const std::string*>{kOriginator, &reply.originator},
                                    {kDate, &reply.date},
                                    {kBody, &reply.body}}) {
    out.append("<").append(name).append(digits).append(">");
    broken += AppendNeutralised(out, *value, kIncomingNames);
    out.append("</").append(name).append(digits).append(">\r\n");
  }
  return broken;
}

std::size_t RecordRoom(const IncomingRecord& reply) {
  return reply.originator.size() + reply.date.size() + reply.body.size() + 80;
}

}  // namespace

std::size_t NeutraliseExchangeTags(std::string& value) { return NeutraliseTags(value, kIncomingNames); }

std::string FormatIncomingExchange(const std::vector<IncomingRecord>& replies, std::size_t* neutralised) {
  std::string out;
  std::size_t room = 0;
  for (const IncomingRecord& reply : replies) room += RecordRoom(reply);
  out.reserve(room);  // the replies' texts are copied once, not again as it grows
  std::size_t broken = 0;
  int n = 0;
  for (const IncomingRecord& reply : replies) broken += AppendIncomingRecord(out, ++n, reply);
  if (neutralised) *neutralised += broken;
  return out;
}

std::string FormatIncomingRecord(int number, const IncomingRecord& reply, std::size_t* neutralised) {
  std::string out;
  out.reserve(RecordRoom(reply));
  const std::size_t broken = AppendIncomingRecord(out, number, reply);
  if (neutralised) *neutralised += broken;
  return out;
}

bool GetNumberedTagValue(const std::string& text, const std::string& tagName, int number, std::string& value) {
  return GetTagValue(text, NumberedName(tagName, number), value);
}

std::vector<IncomingRecord> ReadIncomingRecords(const std::string& text, std::size_t limit) {
  std::vector<IncomingRecord> records;
  for (int n = 1; records.size() < limit; ++n) {
    IncomingRecord r;
    if (!GetNumberedTagValue(text, std::string(kOriginator), n, r.originator)) break;
    if (!GetNumberedTagValue(text, std::string(kDate), n, r.date)) break;
    if (!GetNumberedTagValue(text, std::string(kBody), n, r.body)) break;
    records.push_back(std::move(r));
  }
  return records;
}

}  // namespace exchange
