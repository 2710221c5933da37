// The state file that makes the intake lose nothing and offer nothing twice.
//
// It records which waiting messages went into which incoming exchange file:
// Pending before the file is written (and again while a file LvMAPI left
// unconsumed is being removed), Offered once it is in place, Consumed once
// LvMAPI has deleted it (the message is still to be moved to the processed
// folder). The file is "LVEmailAccess.state" beside the program,
// one record per line, "status<TAB>exchange file<TAB>message key<TAB>reply
// number" (the number the message has in the exchange file, which LvMAPI's
// hand-back names it by; a line of an older state without it has number 0),
// with "%",
// TAB, CR and LF written as %25, %09, %0D and %0A. A record with an empty
// key names an exchange file that offered no message. It is replaced in one step
// on every save, so a crash leaves either the old or the new records.
// A damaged line is reported and left out, which can only make a message be
// offered again. A file that cannot be read or saved throws: a
// TransportError of a temporary failure when another program holds it,
// std::runtime_error otherwise; the intake never goes on without its state.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace emailaccess {

inline constexpr const char kStateFileName[] = "LVEmailAccess.state";

enum class OfferStatus { Pending, Offered, Consumed };

struct OfferRecord {
  OfferStatus status = OfferStatus::Pending;
  std::string exchangeFile;
  std::string key;
  int number = 0;  // the message's reply number in the exchange file; 0 when not known

  bool operator==(const OfferRecord&) const = default;
};

// A missing file holds no records. Damaged lines are described in `problems`.
std::vector<OfferRecord> LoadOfferRecords(const std::string& path, std::vector<std::string>& problems);

// Reads a file of such records line by line: blank lines and "#" comments
// are passed over, every other line goes to `parse`, and one it refuses is
// described in `problems`. A file that cannot be read is described there
// too, and gives false. A missing file has no lines.
bool ReadRecordLines(const std::string& path, std::vector<std::string>& problems,
                     const std::function<bool(const std::string&)>& parse);

// The escaping of one field of such a line, shared with the other record
// files beside the program. Unescaping fails on a "%" not followed by one of
// the four codes.
std::string EscapeRecordField(const std::string& text);
bool UnescapeRecordField(const std::string& text, std::string& out);
// The TAB-separated fields of such a line, still escaped.
std::vector<std::string> SplitRecordFields(const std::string& line);

void SaveOfferRecords(const std::string& path, const std::vector<OfferRecord>& records);

}  // namespace emailaccess
