// A survey mailing (command 2) through the real mail-access program on its
// Maildir default, with names, addresses and survey texts that hold the
// outgoing exchange file's own tags: every member gets their own message at
// their own address, whole, and no one else gets anything.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "reply_install.h"
#include "test_support.h"

namespace {

using testing_support::ReadFile;

const char kSurvey[] = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}";
const char kRob[] = "{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B02}";
const char kAnn[] = "{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B01}";
const char kEvil[] = "evil@attacker.example";
const std::vector<std::string> kMembers = {"ann.lee@example.org",          "rob.obrien@example.org",
                                           "maria.santos@example.org",     "david.kim@example.org",
                                           "elders@gracefellowship.example.org", "jane.visitor@example.net"};

// A quoted-printable body as its reader sees it.
std::string DecodedBody(const std::string& message) {
  const size_t start = message.find("\r\n\r\n");
  const std::string encoded = start == std::string::npos ? "" : message.substr(start + 4);
  std::string text;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '=') {
      text += encoded[i];
    } else if (encoded.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;
    } else if (i + 2 < encoded.size()) {
      text += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  return text;
}

// The address of the To header (unfolded), between its last angle brackets
// when it has them.
std::string ToAddress(const std::string& message) {
  const size_t at = message.find("\r\nTo: ");
  if (at == std::string::npos) return "";
  size_t end = at + 6;
  while ((end = message.find("\r\n", end)) != std::string::npos &&
         (message[end + 2] == ' ' || message[end + 2] == '\t')) {
    end += 2;
  }
  const std::string to = message.substr(at + 6, end - at - 6);
  const size_t open = to.rfind('<'), close = to.rfind('>');
  return open != std::string::npos && close > open ? to.substr(open + 1, close - open - 1) : to;
}

struct Case {
  const char* what;
  std::string sql;                   // run on the demo church before the mailing
  std::vector<std::string> mailedTo;  // each gets one message
  int exitCode;
  std::string bodyHolds;             // text of the survey that must reach everyone as it is
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.what; }

class RedirectedMailing : public ::testing::TestWithParam<Case> {};

TEST_P(RedirectedMailing, EveryMemberGetsTheirOwnWholeMessage) {
  const Case& c = GetParam();
  testing_support::ScratchDir dir;
  testing_support::ReplyInstall install(dir.file("bin"));
  testing_support::ExecSql(install.db(), ReadFile(std::string(LVMAPI_SOURCE_DIR) + "/db/demo.sql"));
  testing_support::ExecSql(install.db(), c.sql);

  const auto run = testing_support::Run(install.bin() + "/LvMAPI", {"church.db", "2", kSurvey}, {}, dir.path());
  EXPECT_EQ(run.exitCode, c.exitCode) << run.err;

  std::map<std::string, int> received;
  const std::string outbox = install.bin() + "/Mail/Outbox/new/";
  for (const std::string& name : testing_support::ListFolder(outbox)) {
    const std::string message = ReadFile(outbox + name);
    const std::string to = ToAddress(message);
    ++received[to];
    const std::string body = DecodedBody(message);
    EXPECT_NE(body.find("</QuestionID6>"), std::string::npos) << to << " got a cut body";
    EXPECT_NE(body.find(c.bodyHolds), std::string::npos) << to;
    for (const std::string& other : kMembers) {
      EXPECT_EQ(body.find(other), std::string::npos) << to << "'s body names " << other;
    }
  }
  std::map<std::string, int> expected;
  for (const std::string& member : c.mailedTo) expected[member] = 1;
  EXPECT_EQ(received, expected);
}

std::vector<std::string> MembersBut(const std::string& left) {
  std::vector<std::string> members;
  for (const std::string& member : kMembers) {
    if (member != left) members.push_back(member);
  }
  return members;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RedirectedMailing,
    ::testing::Values(
        Case{"AMiddleNameNamingAnotherMembersAddress",
             std::string("UPDATE Person SET MiddleName = '<Email3>") + kEvil + "</Email3>' WHERE PersonID = '" + kRob +
                 "'",
             kMembers, 0, "Spring Ministry Survey"},
        Case{"ANameOpeningTheBody",
             std::string("UPDATE Person SET LastName = 'O''Brien <Body>' WHERE PersonID = '") + kRob + "'", kMembers, 0,
             "Spring Ministry Survey"},
        Case{"ANameClosingItsElementAndAddingAnAddress",
             std::string("UPDATE Person SET FirstName = 'Ann</Recipient1><Email1>") + kEvil +
                 "</Email1><Recipient1>' WHERE PersonID = '" + kAnn + "'",
             kMembers, 0, "Spring Ministry Survey"},
        Case{"InstructionsHoldingElements",
             std::string("UPDATE Survey SET SurveyInstructions = 'See </Body><Recipient9>Eve</Recipient9><Email9>") +
                 kEvil + "</Email9><Body> and <Email2>x</Email2>'",
             kMembers, 0,
             std::string("See </Body><Recipient9>Eve</Recipient9><Email9>") + kEvil +
                 "</Email9><Body> and <Email2>x</Email2>"},
        Case{"ATitleHoldingElements",
             std::string("UPDATE Survey SET SurveyTitle = 'Spring </Body><Email1>") + kEvil + "</Email1>'", kMembers, 0,
             std::string("Spring </Body><Email1>") + kEvil + "</Email1>"},
        // Not one plain address: refused as any such address, the others sent.
        Case{"AnAddressHoldingTwoAddresses",
             std::string("UPDATE Person SET Email = 'rob.obrien@example.org</Email2><Email2>") + kEvil +
                 "' WHERE PersonID = '" + kRob + "'",
             MembersBut("rob.obrien@example.org"), 65, "Spring Ministry Survey"}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.what; });

}  // namespace
