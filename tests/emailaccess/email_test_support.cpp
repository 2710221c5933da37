#include "email_test_support.h"

#include "emailaccess/offer_state.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
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
  return {File(file), subject, config.senderAddress, StatePath()};
}

void PlaceMessage(const std::string& maildir, const std::string& name, const std::string& data,
                  std::int64_t arrivalSeconds) {
  testing_support::DeliverToMaildir(maildir, name, data);
  const std::string path = maildir + "/new/" + name;
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(arrivalSeconds);
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) throw std::runtime_error("utimensat failed on " + path);
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

std::string Fixture(const std::string& name) {
  const std::string path = std::string(EMAILACCESS_FIXTURE_DIR) + "/" + name;
  if (!testing_support::Exists(path)) throw std::runtime_error("missing fixture " + path);
  return testing_support::ReadFile(path);
}

}  // namespace emailaccess_test
