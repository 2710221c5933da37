#include "email_test_support.h"

#include "emailaccess/offer_state.h"
#include "emailaccess/sent_register.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include "platform/environment.h"

namespace emailaccess_test {

ScopedTimeZone::ScopedTimeZone(const std::string& zone) {
  if (const char* previous = std::getenv("TZ")) {
    m_had = true;
    m_previous = previous;
  }
  platform::SetEnvironmentValue("TZ", zone);
  tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (m_had) {
    platform::SetEnvironmentValue("TZ", m_previous);
  } else {
    platform::RemoveEnvironmentValue("TZ");
  }
  tzset();
}

Installation::Installation()
    : config(emailaccess::DefaultConfig(dir.path() + "/")), log(dir.file(emailaccess::kLogFileName), errors) {}

std::string Installation::StatePath() const { return File(emailaccess::kStateFileName); }

emailaccess::FetchRequest Installation::Request(const std::string& file, const std::string& subject) const {
  return {File(file), subject, config.senderAddress, StatePath(), File(emailaccess::kSentRegisterFileName), nullptr,
          "", 0, true};
}

void PlaceMessage(const std::string& maildir, const std::string& name, const std::string& data,
                  std::int64_t arrivalSeconds) {
  testing_support::DeliverToMaildir(maildir, name, data);
  const std::string path = maildir + "/new/" + name;
  using Clock = std::filesystem::file_time_type::clock;
  std::error_code ec;
  std::filesystem::last_write_time(
      path, Clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(arrivalSeconds))), ec);
  if (ec) throw std::runtime_error("cannot set the time of " + path + ": " + ec.message());
}

std::vector<std::string> MaildirMessages(const std::string& maildir, bool keysOnly) {
  std::vector<std::string> names;
  for (const char* sub : {"new", "cur"}) {
    for (const std::string& name : testing_support::ListFolder(maildir + "/" + sub)) {
      names.push_back(keysOnly ? name.substr(0, name.find_first_of(":!")) : name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string AnsweringOurs(const std::string& sentRegister, const std::string& reply) {
  static int serial = 0;
  const size_t from = reply.rfind("From:", 0) == 0 ? 0 : reply.find("\nFrom:");
  if (from == std::string::npos) return reply;
  const size_t start = reply.find(':', from) + 1;
  std::string address = reply.substr(start, reply.find('\n', start) - start);
  if (const size_t open = address.find('<'); open != std::string::npos) {
    address = address.substr(open + 1, address.find('>') - open - 1);
  }
  address.erase(0, address.find_first_not_of(' '));
  address.erase(address.find_last_not_of(" \r") + 1);
  const std::string id = "lvm.test" + std::to_string(++serial) + "@localhost";
  emailaccess::RecordSentMailings(sentRegister,
                                  {{std::time(nullptr), id, address, "Corvane Survey"}}, std::time(nullptr));
  const std::string eol = reply.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  return "In-Reply-To: <" + id + ">" + eol + "References: <" + id + ">" + eol + reply;
}

std::string AnsweringOurs(const Installation& inst, const std::string& reply) {
  return AnsweringOurs(inst.File(emailaccess::kSentRegisterFileName), reply);
}

std::string Fixture(const std::string& name) {
  const std::string path = std::string(EMAILACCESS_FIXTURE_DIR) + "/" + name;
  if (!testing_support::Exists(path)) throw std::runtime_error("missing fixture " + path);
  return testing_support::ReadFile(path);
}

}  // namespace emailaccess_test
