// Helpers for the mail-access tests: an installation folder with its
// settings, Maildir messages placed with a chosen arrival time, the fixture
// messages, and a fixed local time zone so that dates compare exactly.
#pragma once

#include "emailaccess/config.h"
#include "emailaccess/event_log.h"
#include "emailaccess/intake.h"
#include "support/test_support.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace emailaccess_test {

// Sets TZ for the lifetime of the object and restores the previous value.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone);
  ~ScopedTimeZone();

 private:
  bool m_had = false;
  std::string m_previous;
};

// A scratch installation: the default settings for a program living in a
// fresh folder, and a log beside it.
struct Installation {
  testing_support::ScratchDir dir;
  emailaccess::Config config;
  std::ostringstream errors;
  emailaccess::EventLog log;

  Installation();
  std::string ProgramDir() const { return dir.path() + "/"; }
  std::string File(const std::string& name) const { return dir.file(name); }
  std::string StatePath() const;
  // A fetch into `file` beside the program, for replies about `subject`.
  emailaccess::FetchRequest Request(const std::string& file, const std::string& subject) const;
  std::string LogText() const { return testing_support::ReadFile(File(emailaccess::kLogFileName)); }
};

// Writes `data` into `maildir`/new/`name` (creating the Maildir) and sets its
// modification time, which is its arrival time, to `arrivalSeconds`.
void PlaceMessage(const std::string& maildir, const std::string& name, const std::string& data,
                  std::int64_t arrivalSeconds);

// File names in the Maildir's new/ and cur/ (sorted); with `keysOnly` the
// part before ':' (or '!', where names cannot hold ':').
std::vector<std::string> MaildirMessages(const std::string& maildir, bool keysOnly = true);

std::string Fixture(const std::string& name);

// `reply` made the answer a mail program writes to a message we sent to its
// From address: that message is recorded in the installation's sent
// register, and the reply names its Message-ID in In-Reply-To and
// References. A text without a From field is returned as it is.
std::string AnsweringOurs(const Installation& inst, const std::string& reply);
// The same for the installation whose sent register is `sentRegister`.
std::string AnsweringOurs(const std::string& sentRegister, const std::string& reply);

}  // namespace emailaccess_test
