// What is taken from a token service's answer, and the pieces of the browser
// sign-in: the PKCE challenge and the values of the returning address.

#include "emailaccess/signin/authorize.h"
#include "emailaccess/signin/token_answer.h"

#include <gtest/gtest.h>

namespace {

using emailaccess::TokenAnswer;

TEST(TokenAnswer, OnlyPrintableTokensAndSensibleSecondsAreTaken) {
  struct Case {
    const char* json;
    std::string access, refresh, error;
    std::optional<std::int64_t> expiresIn;
  };
  const Case cases[] = {
      {R"({"access_token":"a.b-c","refresh_token":"r","expires_in":3599})", "a.b-c", "r", "", 3599},
      {R"({"access_token":"a","expires_in":"3600"})", "a", "", "", 3600},
      {R"({"access_token":"a\r\nA1 LOGOUT","expires_in":-5})", "", "", "", std::nullopt},
      {R"({"access_token":"a b","expires_in":1e300,"refresh_token":7})", "", "", "", std::nullopt},
      {R"({"error":"invalid_grant","error_description":"AADSTS70000: revoked"})", "", "", "invalid_grant", std::nullopt},
      {R"({"access_token":"\u001b[2J"})", "", "", "", std::nullopt},
  };
  for (const Case& c : cases) {
    TokenAnswer answer;
    ASSERT_TRUE(emailaccess::ParseTokenAnswer(c.json, answer)) << c.json;
    EXPECT_EQ(answer.accessToken, c.access) << c.json;
    EXPECT_EQ(answer.refreshToken, c.refresh) << c.json;
    EXPECT_EQ(answer.error, c.error) << c.json;
    EXPECT_EQ(answer.expiresIn, c.expiresIn) << c.json;
  }
  TokenAnswer answer;
  for (const char* notAnObject : {"", "[1]", "{\"a\":", "<html>502</html>"}) {
    EXPECT_FALSE(emailaccess::ParseTokenAnswer(notAnObject, answer)) << notAnObject;
  }
}

TEST(BrowserSignIn, ChallengeAndReturnedValuesAreComputedAsTheProviderDoes) {
  // The example of RFC 7636, appendix B.
  EXPECT_EQ(emailaccess::PkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  const std::string target = "/?code=M.R3_a%2Fb+c&state=xyz&scope=&code2=no";
  EXPECT_EQ(emailaccess::QueryValue(target, "code"), "M.R3_a/b c");
  EXPECT_EQ(emailaccess::QueryValue(target, "state"), "xyz");
  EXPECT_EQ(emailaccess::QueryValue(target, "error"), "");
  EXPECT_EQ(emailaccess::QueryValue("/no-query", "code"), "");
}

}  // namespace
