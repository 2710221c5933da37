// Delivery reports in a mailbox of thousands of other messages on a real
// IMAP server: the server searches, and the run fetches only the reports and
// the reply, as Dovecot's own record of the session shows.

#include "email_test_support.h"
#include "server_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

using emailaccess_test::Fixture;
using emailaccess_test::Holds;
using emailaccess_test::ReplyText;
using emailaccess_test::ServerTest;

// How many messages the commands "UID FETCH <set> <what>" of every session
// in Dovecot's raw log name (each line may follow its time stamp); a set
// like "3,7:9" names four.
int FetchedMessages(const std::string& rawlog, const std::string& what) {
  const std::regex command("^(?:[0-9.]+ )?\\S+ UID FETCH ([0-9:,]+) " + what);
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(rawlog)) {
    if (entry.path().extension() != ".in") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      std::smatch found;
      if (!std::regex_search(line, found, command)) continue;
      std::stringstream set(found[1].str());
      for (std::string range; std::getline(set, range, ',');) {
        const size_t colon = range.find(':');
        count += colon == std::string::npos ? 1 : std::stoi(range.substr(colon + 1)) - std::stoi(range) + 1;
      }
    }
  }
  return count;
}

class DeliveryReportServerTest : public ServerTest {};

TEST_F(DeliveryReportServerTest, AMailboxOfOtherMailCostsASearchAndOnlyCandidatesAreFetched) {
  StartServers(false, false, true);
  Configure();
  m_servers->DeliverMany("INBOX", ReplyText("member{n}@example.org", "Parish news {n}", "Nothing to answer here.\r\n"),
                         5000);
  m_servers->Deliver("INBOX", Fixture("delivery_reports/gmail.eml"));
  m_servers->Deliver("INBOX", ReplyText("ann@example.org", "Re: Corvane Survey - Autumn 2026",
                                        "<answer1>yes</answer1>\r\n"));
  m_servers->Deliver("INBOX", Fixture("delivery_reports/sendmail_delayed.eml"));
  m_servers->Deliver("INBOX", Fixture("delivery_reports/office365.eml"));

  const auto run = Run({"4", Bin("in.tmp"), "Corvane Survey", "0"});
  ASSERT_EQ(run.exitCode, 0) << run.err << Log();
  EXPECT_EQ(run.out,
            "Not delivered to userunknown@example.jp: 5.1.1 550 5.1.1 <userunknown@example.jp>... User Unknown\n"
            "Delayed for this-local-part-does-not-exist-on-the-system@y-mobile.ne.jp: 4.5.0\n"
            "Not delivered to kijitora@example.com: 5.1.10 Remote Server returned '550 5.1.10 "
            "RESOLVER.ADR.RecipientNotFound; Recipient not found by SMTP address lookup'\n");
  EXPECT_TRUE(Holds(testing_support::ReadFile(Bin("in.tmp")), "<Originator1>ann@example.org</Originator1>"));
  EXPECT_EQ(m_servers->Messages("Undeliverable").size(), 2u);
  EXPECT_EQ(m_servers->Messages("Skipped").size(), 1u);
  EXPECT_EQ(m_servers->Messages("INBOX").size(), 5001u) << "the others and the reply (not consumed yet) stay";

  const std::string rawlog = m_servers->home + "/dovecot.rawlog";
  EXPECT_EQ(FetchedMessages(rawlog, "BODY\\.PEEK\\[\\]"), 4) << "the three reports and the reply, nothing else";
  EXPECT_EQ(FetchedMessages(rawlog, "\\(UID FLAGS"), 4) << "only the candidates are even listed";
}

}  // namespace
