// A token service's JSON answers (token and device endpoints) over arbitrary
// bytes. Nothing taken from them may carry a control character or a byte
// beyond ASCII (it would reach an AUTH command or the terminal), tokens and
// codes hold no blank, the seconds stay within their bounds, an input that
// is not a JSON object gives nothing at all, and reading twice gives the
// same answer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "emailaccess/signin/token_answer.h"
#include "fuzz_checks.h"

using emailaccess::IsPrintableAscii;
using emailaccess::TokenAnswer;
using fuzzing::Require;

namespace {

bool Clean(const std::string& text, bool blanks) { return text.empty() || IsPrintableAscii(text, blanks); }

std::string Fields(const TokenAnswer& a) {
  return a.accessToken + '\n' + a.refreshToken + '\n' + a.scope + '\n' + a.error + '\n' + a.errorDescription + '\n' +
         a.deviceCode + '\n' + a.userCode + '\n' + a.verificationUri + '\n' +
         std::to_string(a.expiresIn.value_or(-1)) + '\n' + std::to_string(a.interval.value_or(-1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  TokenAnswer answer;
  const bool parsed = emailaccess::ParseTokenAnswer(body, answer);
  for (const std::string* token : {&answer.accessToken, &answer.refreshToken, &answer.error, &answer.deviceCode,
                                   &answer.userCode, &answer.verificationUri}) {
    Require(Clean(*token, false), "tokens, codes and addresses are printable ASCII without blanks");
  }
  Require(Clean(answer.scope, true) && Clean(answer.errorDescription, true), "texts are printable ASCII");
  Require(!answer.expiresIn || (*answer.expiresIn >= 0 && *answer.expiresIn <= emailaccess::kMaxSeconds),
          "expires_in within bounds");
  Require(!answer.interval || (*answer.interval >= 1 && *answer.interval <= emailaccess::kMaxInterval),
          "interval within bounds");
  Require(parsed || Fields(answer) == Fields(TokenAnswer()), "no JSON object, nothing taken");
  TokenAnswer again;
  Require(emailaccess::ParseTokenAnswer(body, again) == parsed && Fields(again) == Fields(answer),
          "reading is repeatable");
  return 0;
}
