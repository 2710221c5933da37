// Whose Authentication-Results count, and what they say of the sender: real
// fields of Google and Microsoft 365 (fixtures with their sources), and the
// forgeries a sender can write into a message of its own.
#include <gtest/gtest.h>

#include "email_test_support.h"
#include "emailaccess/message/authentication_results.h"

namespace {

using emailaccess::ProviderVerdict;

// A fixture's field value: its comment lines and the field name left out.
std::string FixtureField(const std::string& name) {
  const std::string text = emailaccess_test::Fixture("authentication_results/" + name);
  std::string value;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end + 1 - pos);
    if (line[0] != '#') value += line;
    pos = end + 1;
  }
  const std::string name_ = "Authentication-Results:";
  return value.rfind(name_, 0) == 0 ? value.substr(name_.size()) : value;
}

struct Case {
  const char* what;
  std::vector<std::string> fields;  // topmost first
  const char* setting;
  ProviderVerdict verdict;
};

TEST(AuthenticationResults, OnlyTheOwnServersTopmostFieldConfirmsAndAnyOwnFailCondemns) {
  const std::string google = FixtureField("google_gmail.txt");
  const std::string microsoft = FixtureField("microsoft365.txt");
  const std::string microsoftFail = FixtureField("microsoft365_fail.txt");
  const Case cases[] = {
      {"Google's own field, Google preset", {google}, "google", ProviderVerdict::Pass},
      {"Google's field named literally", {google}, "MX.Google.com", ProviderVerdict::Pass},
      {"Google's field at a Microsoft 365 church", {google}, "microsoft365", ProviderVerdict::NotConfirmed},
      {"Microsoft 365's own field", {microsoft}, "microsoft365", ProviderVerdict::Pass},
      {"Microsoft 365 found the sender forged", {microsoftFail}, "microsoft365", ProviderVerdict::Fail},
      {"Microsoft's form at a Google church", {microsoft}, "google", ProviderVerdict::NotConfirmed},
      {"no provider set", {google}, "", ProviderVerdict::NotConfirmed},
      {"a foreign server claims pass", {" evil.example; dmarc=pass header.from=example.org"}, "google",
       ProviderVerdict::NotConfirmed},
      {"the own server says fail, a forged field below says pass",
       {" mx.google.com; dmarc=fail (p=REJECT) header.from=example.org", google}, "google", ProviderVerdict::Fail},
      {"a forged field with the own id below the server's own without a verdict",
       {" mx.google.com; dmarc=none header.from=example.org", google}, "google", ProviderVerdict::NotConfirmed},
      {"a forged Microsoft-form field below Microsoft's own without a verdict",
       {" spf=none smtp.mailfrom=example.org; dmarc=none action=none header.from=example.org", microsoft},
       "microsoft365", ProviderVerdict::NotConfirmed},
      {"the pass only inside a comment", {" mx.google.com; spf=pass (dmarc=pass) smtp.mailfrom=example.org"}, "google",
       ProviderVerdict::NotConfirmed},
      {"the pass only inside a quoted value",
       {" mx.google.com; dkim=pass header.b=\"a; dmarc=pass\" ; dmarc=none"}, "google", ProviderVerdict::NotConfirmed},
      {"an own server's id with a version, in other case", {" Mail.Example.ORG 1; DMARC=PASS header.from=example.org"},
       "mail.example.org", ProviderVerdict::Pass},
      {"a method version and blanks around the sign", {" mail.example.org; dmarc/1 = pass"}, "mail.example.org",
       ProviderVerdict::Pass},
      {"a field without results", {" mail.example.org; none"}, "mail.example.org", ProviderVerdict::NotConfirmed},
      {"an unclosed comment hides the rest", {" mail.example.org; spf=pass (open; dmarc=pass"}, "mail.example.org",
       ProviderVerdict::NotConfirmed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(emailaccess::EvaluateProvider(c.fields, c.setting), c.verdict) << c.what;
  }
}

}  // namespace
