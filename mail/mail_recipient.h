// One addressee of an outgoing e-mail: a person of the database, or a bare
// extra address. A plain value record; every field is text as the database
// holds it, nothing is validated.
#pragma once

#include <string>

struct MailRecipient {
  std::string PersonID;  // kSentinelGuid for an extra address, whose names are empty
  std::string FirstName;
  std::string MiddleName;
  std::string LastName;
  std::string Email;
};
