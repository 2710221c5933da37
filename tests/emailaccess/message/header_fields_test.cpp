// The first address of an address list, which names the sender of a reply
// and tells a mail system's report by its From.

#include "emailaccess/message/header_fields.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using emailaccess::FirstAddress;
using emailaccess::GObjectPtr;

TEST(FirstAddress, IsTheFirstMailboxAlsoInsideAGroup) {
  struct Case {
    const char* list;
    const char* first;
  };
  const Case cases[] = {
      {"Ann Lee <ann@example.org>, bo@example.org", "ann@example.org"},
      {"Team: t@example.org, u@example.org;", "t@example.org"},
      {"Nobody:;, Ann <ann@example.org>", "ann@example.org"},
      {"Team: t@example.org;, MAILER-DAEMON@example.org", "t@example.org"},
      {"<>, bo@example.org", "bo@example.org"},
      {"Undisclosed recipients:;", ""},
  };
  emailaccess::EnsureGMime();
  for (const Case& c : cases) {
    GObjectPtr<InternetAddressList> list(internet_address_list_parse(emailaccess::IncomingParserOptions(), c.list));
    ASSERT_TRUE(list) << c.list;
    EXPECT_EQ(FirstAddress(list.get()), c.first) << c.list;
  }
  EXPECT_EQ(FirstAddress(nullptr), "");
}

}  // namespace
