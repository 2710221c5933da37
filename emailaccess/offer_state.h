// The state file that makes the intake lose nothing and offer nothing twice.
//
// It records which waiting messages went into which incoming exchange file:
// Pending before the file is written (and again while a file LvMAPI left
// unconsumed is being removed), Offered once it is in place, Consumed once
// LvMAPI has deleted it (the message is still to be moved to the processed
// folder). The file is "LVEmailAccess.state" beside the program,
// one record per line, "status<TAB>exchange file<TAB>message key", with "%",
// TAB, CR and LF written as %25, %09, %0D and %0A. A record with an empty
// key names an exchange file that offered no message. It is replaced in one step
// on every save, so a crash leaves either the old or the new records.
// A damaged line is reported and left out, which can only make a message be
// offered again. A file that cannot be read or saved throws: a
// TransportError of a temporary failure when another program holds it,
// std::runtime_error otherwise; the intake never goes on without its state.
#pragma once

#include <string>
#include <vector>

namespace emailaccess {

inline constexpr const char kStateFileName[] = "LVEmailAccess.state";

enum class OfferStatus { Pending, Offered, Consumed };

struct OfferRecord {
  OfferStatus status = OfferStatus::Pending;
  std::string exchangeFile;
  std::string key;

  bool operator==(const OfferRecord&) const = default;
};

// A missing file holds no records. Damaged lines are described in `problems`.
std::vector<OfferRecord> LoadOfferRecords(const std::string& path, std::vector<std::string>& problems);

void SaveOfferRecords(const std::string& path, const std::vector<OfferRecord>& records);

}  // namespace emailaccess
