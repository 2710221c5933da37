#include "emailaccess/signin/providers.h"

namespace emailaccess {
namespace {

ProviderEndpoints Microsoft(const std::string& tenant) {
  const std::string base = "https://login.microsoftonline.com/" + tenant + "/oauth2/v2.0/";
  ProviderEndpoints endpoints;
  endpoints.tokenUrl = base + "token";
  endpoints.deviceUrl = base + "devicecode";
  endpoints.scope =
      "https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/SMTP.Send offline_access";
  // Microsoft Graph's delegated permissions: the mailbox read, filed and
  // sent from, its To Do tasks (the goals' tasks), and the account's own
  // name for --check.
  endpoints.graphScope =
      "https://graph.microsoft.com/Mail.ReadWrite https://graph.microsoft.com/Mail.Send "
      "https://graph.microsoft.com/Tasks.ReadWrite https://graph.microsoft.com/User.Read offline_access";
  endpoints.usesTenant = true;
  return endpoints;
}

// Google gives installed programs a client secret and expects it back.
ProviderEndpoints Google(const std::string&) {
  ProviderEndpoints endpoints;
  endpoints.authorizeUrl = "https://accounts.google.com/o/oauth2/v2/auth";
  endpoints.tokenUrl = "https://oauth2.googleapis.com/token";
  endpoints.scope = "https://mail.google.com/";
  endpoints.needsClientSecret = true;
  return endpoints;
}

struct Provider {
  const char* name;
  ProviderEndpoints (*endpoints)(const std::string& tenant);
};

constexpr Provider kProviders[] = {
    {"microsoft", &Microsoft},
    {"google", &Google},
};

}  // namespace

std::optional<ProviderEndpoints> KnownProvider(const std::string& name, const std::string& tenant) {
  for (const Provider& provider : kProviders) {
    if (name == provider.name) return provider.endpoints(tenant);
  }
  return std::nullopt;
}

}  // namespace emailaccess
