// The OAuth 2.0 providers the settings may name by themselves ("provider =
// microsoft"): where each one signs people in and issues tokens, and what
// it grants by default. Data only, so that the settings reader below the
// sign-in can fill them in; a further provider is one row in providers.cpp.
#pragma once

#include <optional>
#include <string>

namespace emailaccess {

struct ProviderEndpoints {
  std::string authorizeUrl;  // the browser sign-in; empty for a sign-in with a code
  std::string tokenUrl;
  std::string deviceUrl;     // the sign-in with a code typed elsewhere; empty for a browser sign-in
  std::string scope;         // granted when the settings name none
  std::string graphScope;    // ... with transport = graph; empty where the provider has no Graph
  bool usesTenant = false;   // the endpoints name the organisation's directory
  bool needsClientSecret = false;
};

// The directory Microsoft signs in to when the settings name none.
inline constexpr const char kDefaultTenant[] = "organizations";

// The endpoints of the provider called `name`, for `tenant` where the
// provider has directories; nullopt for a provider not known here.
std::optional<ProviderEndpoints> KnownProvider(const std::string& name, const std::string& tenant);

}  // namespace emailaccess
