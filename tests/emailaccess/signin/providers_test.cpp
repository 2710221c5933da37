// The providers the settings may name by themselves.
#include "emailaccess/signin/providers.h"

#include <gtest/gtest.h>

namespace {

struct ProviderCase {
  const char* name;
  const char* tenant;
  bool known;
  const char* tokenUrl;
  bool browser;  // signs in in a browser (else with a code typed elsewhere)
  bool usesTenant;
  bool needsClientSecret;
};

TEST(Providers, KnownProvidersHaveTheirEndpoints) {
  const ProviderCase cases[] = {
      {"microsoft", "organizations", true, "https://login.microsoftonline.com/organizations/oauth2/v2.0/token", false,
       true, false},
      {"microsoft", "contoso.onmicrosoft.com", true,
       "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/token", false, true, false},
      {"google", "organizations", true, "https://oauth2.googleapis.com/token", true, false, true},
      {"custom", "", false, "", false, false, false},
      {"Microsoft", "", false, "", false, false, false},
      {"", "", false, "", false, false, false},
  };
  for (const ProviderCase& c : cases) {
    const auto endpoints = emailaccess::KnownProvider(c.name, c.tenant);
    ASSERT_EQ(endpoints.has_value(), c.known) << c.name;
    if (!endpoints) continue;
    EXPECT_EQ(endpoints->tokenUrl, c.tokenUrl) << c.name;
    EXPECT_EQ(endpoints->authorizeUrl.empty(), !c.browser) << c.name;
    EXPECT_EQ(endpoints->deviceUrl.empty(), c.browser) << "exactly one way to sign in: " << c.name;
    EXPECT_FALSE(endpoints->scope.empty()) << c.name;
    EXPECT_EQ(endpoints->usesTenant, c.usesTenant) << c.name;
    EXPECT_EQ(endpoints->needsClientSecret, c.needsClientSecret) << c.name;
  }
}

}  // namespace
