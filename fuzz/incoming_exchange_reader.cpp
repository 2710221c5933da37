// The incoming exchange file between the two programs. LvMAPI's reading
// (numbered Originator/Date/Body elements up to the first incomplete record)
// runs over arbitrary bytes; then the records it found, or records cut from
// the input, are written by the mail-access program and read back by LvMAPI:
// exactly as many records must come back, each with its own values. A value
// that holds the file's own tags must never forge or hide a record.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "exchange/incoming.h"
#include "fuzz_checks.h"

namespace {

using fuzzing::Record;
using fuzzing::Require;

// Records cut from raw bytes: fields separated by line feeds, three per record.
std::vector<exchange::IncomingRecord> RecordsFromLines(const std::string& text) {
  const std::vector<std::string> fields = fuzzing::Fields(text, '\n', 30);
  std::vector<exchange::IncomingRecord> records;
  for (size_t i = 0; i + 2 < fields.size(); i += 3) records.push_back({fields[i], fields[i + 1], fields[i + 2]});
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::vector<exchange::IncomingRecord> records;
  for (const Record& r : exchange::ReadIncomingRecords(text, 50)) {
    Require(r.originator.empty() || r.originator[0] != ' ', "values lose their leading blanks");
    records.push_back({r.originator, r.date, r.body});
  }
  if (records.empty()) records = RecordsFromLines(text);

  size_t neutralised = 0;
  const std::string file = exchange::FormatIncomingExchange(records, &neutralised);
  const std::vector<Record> back = exchange::ReadIncomingRecords(file, records.size() + 5);
  Require(back.size() == records.size(), "exactly the records written are read back");
  for (size_t i = 0; i < records.size(); ++i) {
    std::string originator = records[i].originator, date = records[i].date, body = records[i].body;
    exchange::NeutraliseExchangeTags(originator);
    exchange::NeutraliseExchangeTags(date);
    exchange::NeutraliseExchangeTags(body);
    Require(back[i].originator == fuzzing::WithoutLeadingBlanks(originator), "originator read back");
    Require(back[i].date == fuzzing::WithoutLeadingBlanks(date), "date read back");
    Require(back[i].body == fuzzing::WithoutLeadingBlanks(body), "body read back");
    Require(exchange::NeutraliseExchangeTags(body) == 0, "a neutralised value holds no tag any more");
  }
  return 0;
}
