// Authentication-Results fields as anyone may write them into a message,
// through the reading that decides whether the church's provider confirmed
// a sender. Whatever they hold: methods and results come back lower-cased
// without blanks; no provider set confirms nothing; a field of another
// server, put anywhere, changes nothing; and the own server's field on top
// decides, unless a field of that server found the sender forged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emailaccess/message/authentication_results.h"
#include "fuzz_checks.h"

namespace {

using emailaccess::EvaluateProvider;
using emailaccess::ProviderVerdict;
using fuzzing::Require;

bool Clean(const std::string& word) {
  for (char c : word) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || (c >= 'A' && c <= 'Z')) return false;
  }
  return !word.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Fields are separated by NUL bytes, topmost first.
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    const size_t end = input.find('\0', start);
    fields.push_back(input.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  for (const std::string& field : fields) {
    for (const auto& [method, result] : emailaccess::ParseAuthenticationResult(field).results) {
      Require(Clean(method) && Clean(result), "methods and results are lower-case words");
    }
  }
  Require(EvaluateProvider(fields, "") == ProviderVerdict::NotConfirmed, "no provider set confirms nothing");
  for (const char* setting : {"google", "microsoft365", "mail.example.org"}) {
    const ProviderVerdict verdict = EvaluateProvider(fields, setting);
    std::vector<std::string> withForeign = fields;
    withForeign.insert(withForeign.begin() + static_cast<std::ptrdiff_t>(fields.size() / 2),
                       "other.example; dmarc=pass header.from=example.org");
    Require(EvaluateProvider(withForeign, setting) == verdict, "another server's field changes nothing");
    // The own server's field on top decides, unless a field of it says fail.
    const std::string own = setting == std::string("google")         ? "mx.google.com; dmarc=pass"
                            : setting == std::string("microsoft365") ? "spf=pass; dmarc=pass action=none"
                                                                     : "mail.example.org; dmarc=pass";
    std::vector<std::string> withOwnOnTop = fields;
    withOwnOnTop.insert(withOwnOnTop.begin(), own);
    Require(EvaluateProvider(withOwnOnTop, setting) ==
                (verdict == ProviderVerdict::Fail ? ProviderVerdict::Fail : ProviderVerdict::Pass),
            "the own server's topmost field decides unless it found the sender forged");
  }
  return 0;
}
