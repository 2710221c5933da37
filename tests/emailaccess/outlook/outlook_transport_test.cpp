// The program with Outlook as the mail system, against the Outlook double
// registered in Outlook's place: what lands in Sent Items, the exchange file
// operation 4 writes (the same as from a Maildir holding the same replies),
// the folders the replies are filed in once consumed, and what a missing or
// refusing Outlook leaves behind.
#include "email_test_support.h"
#include "emailaccess/command_line.h"
#include "emailaccess/message/message_text.h"
#include "emailaccess/sent_register.h"
#include "outlook_double/outlook_double.h"
#include "outlook_double/registration.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "util/dates.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace {

using nlohmann::json;
using testing_support::ReadFile;
using testing_support::ScratchDir;
using testing_support::WriteFile;
using emailaccess_test::PlaceMessage;

constexpr std::int64_t kArrival = 1772445600;  // 2026-03-02 10:00 UTC

// One reply as both mail systems hold it.
struct Reply {
  std::string entryId, sender, subject, body, html, messageClass;
  std::int64_t arrival;
};

const std::vector<Reply> kReplies = {
    {"a", "ann@example.org", "Re: Corvane Survey - Hall", "<answer1>Grüße</answer1>\r\nAnn", "", "IPM.Note", kArrival},
    {"b", "bo@example.org", "RE: Corvane Survey - Hall", "", "<p>&lt;answer1&gt;yes&lt;/answer1&gt;</p>", "IPM.Note",
     kArrival + 60},
    {"c", "postmaster@example.org", "Undeliverable: Corvane Survey - Hall",
     "Delivery has failed to these recipients or groups:\r\n\r\nhall@example.org\r\n"
     "Remote Server returned '550 5.1.1 RESOLVER.ADR.RecipNotFound; not found'\r\n",
     "", "REPORT.IPM.Note.NDR", kArrival + 120},
    {"d", "cy@example.org", "Choir practice", "Thursday", "", "IPM.Note", kArrival + 180},
};

double LocalAutomationDate(std::int64_t unixSeconds) {
  const std::string text = FormatLocalDateTime(unixSeconds);  // YYYY-MM-DD HH:MM:SS
  double date = 0;
  EXPECT_TRUE(DateFromFields(std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2)), std::stoi(text.substr(8, 2)),
                             std::stoi(text.substr(11, 2)), std::stoi(text.substr(14, 2)), std::stoi(text.substr(17, 2)),
                             date));
  return date;
}

// The reply as a mail program writes it into a Maildir (its arrival time
// is the file's), for the same exchange file from both.
std::string AsMaildirMessage(const Reply& reply) {
  std::string message = "From: " + reply.sender + "\r\nSubject: " + reply.subject + "\r\nMIME-Version: 1.0\r\n";
  if (reply.messageClass != "IPM.Note") message += "Auto-Submitted: auto-replied\r\n";
  message += std::string("Content-Type: text/") + (reply.html.empty() ? "plain" : "html") +
             "; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";
  return message + (reply.html.empty() ? reply.body : reply.html);
}

class OutlookTransportTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string skip;
    if (!m_registration.Register(skip)) {
      if (!skip.empty()) GTEST_SKIP() << skip;
      FAIL() << "the double cannot be registered";
    }
    platform::SetEnvironmentValue(kOutlookDoubleStateVariable, m_state);
    WriteFile(m_outlook.file("LVEmailAccess.conf"), "[general]\ntransport = outlook\n");
    // Without a settings file the registered double would carry the mail.
    WriteFile(m_maildir.file("LVEmailAccess.conf"), "[general]\ntransport = maildir\n");
  }
  void TearDown() override {
    m_registration.Unregister();
    platform::RemoveEnvironmentValue(kOutlookDoubleStateVariable);
  }

  void Prepare(const std::vector<Reply>& replies, const json& fail = nullptr) {
    json state = {{"folders", {{"Inbox", json::array()}, {"Sent Items", json::array()}}}};
    for (const Reply& r : replies) {
      state["folders"]["Inbox"].push_back({{"entryId", r.entryId}, {"sender", r.sender}, {"subject", r.subject},
                                           {"body", r.body}, {"htmlBody", r.html}, {"messageClass", r.messageClass},
                                           {"received", LocalAutomationDate(r.arrival)}});
    }
    if (!fail.is_null()) state["fail"] = fail;
    WriteFile(m_state, state.dump());
  }
  json State() { return json::parse(ReadFile(m_state)); }
  void Fail(const json& fail) {
    json state = State();
    state["fail"] = fail;
    WriteFile(m_state, state.dump());
  }
  std::vector<std::string> Folder(const std::string& name) {
    std::vector<std::string> ids;
    for (const json& mail : State()["folders"].value(name, json::array())) ids.push_back(mail.value("entryId", ""));
    return ids;
  }

  int Run(const ScratchDir& dir, const std::vector<std::string>& args) {
    m_out.str("");
    m_err.str("");
    return emailaccess::RunCommandLine(args, dir.path() + "/", m_out, m_err);
  }

  ScratchDir m_outlook, m_maildir, m_work;
  std::string m_state = m_work.file("outlook.json");
  std::ostringstream m_out, m_err;
  outlook_double::Registration m_registration;
};

TEST_F(OutlookTransportTest, EachRecipientGetsOneMailKeptInSentItems) {
  Prepare({});
  const std::string exchange = m_work.file("out.tmp");
  WriteFile(exchange, "<Recipient1>Ann</Recipient1>\r\n<Email1>ann@example.org</Email1>\r\n<Recipient2>Bo</Recipient2>"
                      "\r\n<Email2>bo@example.org</Email2>\r\n<Body>Dear member,\r\n<answer1></answer1>\r\nGrüße</Body>");
  ASSERT_EQ(Run(m_outlook, {"2", exchange, "Corvane Survey - Grüße", "0"}), 0) << m_err.str();
  EXPECT_EQ(m_out.str(), "2 handed to Outlook\n");
  // Outlook writes the mail anew: the Message-ID composed here is never sent.
  EXPECT_EQ(ReadFile(m_outlook.file("LVEmailAccess.log")).find("Message-ID"), std::string::npos);
  const json sent = State()["folders"]["Sent Items"];
  ASSERT_EQ(sent.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(sent[i]["to"], i == 0 ? "Ann <ann@example.org>" : "Bo <bo@example.org>");
    EXPECT_EQ(sent[i]["subject"], "Corvane Survey - Grüße");
    EXPECT_EQ(sent[i]["body"], "Dear member,\r\n<answer1></answer1>\r\nGrüße");
  }
}

TEST_F(OutlookTransportTest, RepliesAreOfferedAsFromAMaildirAndFiledOnceConsumed) {
  // The Maildir's replies answer messages it sent, as the Outlook double's
  // replies answer messages Outlook sent.
  for (const Reply& r : kReplies) {
    const std::string sentRegister = m_maildir.file(emailaccess::kSentRegisterFileName);
    PlaceMessage(m_maildir.file("Mail/Inbox"), r.entryId,
                 emailaccess_test::AnsweringOurs(sentRegister, AsMaildirMessage(r)), r.arrival);
  }
  ASSERT_EQ(Run(m_maildir, {"4", m_maildir.file("in.tmp"), "Corvane Survey", "0"}), 0) << m_err.str();
  // Flag 1 reads through Outlook whatever the transport (here the default).
  WriteFile(m_outlook.file("LVEmailAccess.conf"), "");
  Prepare(kReplies);
  ASSERT_EQ(Run(m_outlook, {"4", m_outlook.file("in.tmp"), "Corvane Survey", "1"}), 0) << m_err.str();
  const std::string offered = ReadFile(m_outlook.file("in.tmp"));
  EXPECT_EQ(offered, ReadFile(m_maildir.file("in.tmp")));
  EXPECT_NE(offered.find("<Originator1>ann@example.org</Originator1>"), std::string::npos) << offered;
  EXPECT_EQ(Folder("Inbox"), (std::vector<std::string>{"a", "b", "d"}));
  EXPECT_EQ(Folder("Undeliverable"), std::vector<std::string>{"c"}) << "the report of our mailing";
  EXPECT_TRUE(Folder("Skipped").empty());

  ASSERT_TRUE(platform::RemoveFile(m_outlook.file("in.tmp")));  // LvMAPI consumed it
  ASSERT_EQ(Run(m_outlook, {"4", m_outlook.file("again.tmp"), "Corvane Survey", "1"}), 0) << m_err.str();
  EXPECT_EQ(Folder("Processed"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Folder("Inbox"), std::vector<std::string>{"d"});
  EXPECT_EQ(ReadFile(m_outlook.file("again.tmp")), "");
}

TEST_F(OutlookTransportTest, AMissingOrRefusingOutlookLosesNothing) {
  const std::vector<Reply> replies(kReplies.begin(), kReplies.begin() + 1);
  struct Case {
    const char* name;
    json fail;
    int exitCode;
  } cases[] = {
      {"Outlook cannot start", {{"object", "application"}, {"kind", "create"}}, 78},
      {"busy while the Inbox is read", {{"name", "ReceivedTime"}, {"code", "RPC_E_CALL_REJECTED"}}, 75},
      {"a body it will not give", {{"name", "Body"}}, 75},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare(replies, c.fail);
    const std::string file = m_outlook.file("in.tmp");
    EXPECT_EQ(Run(m_outlook, {"4", file, "Corvane Survey", "0"}), c.exitCode) << m_err.str();
    EXPECT_FALSE(platform::FileExists(file)) << "a half-made exchange file";
    // The next run, with Outlook answering, offers the reply.
    ASSERT_EQ(Run(m_outlook, {"4", file, "Corvane Survey", "0"}), 0) << m_err.str();
    EXPECT_NE(ReadFile(file).find("<Originator1>ann@example.org"), std::string::npos);
    ASSERT_TRUE(platform::RemoveFile(file));
    // Filing refused: the reply stays in the Inbox and is neither lost nor
    // offered again; the run after files it.
    Fail({{"name", "Move"}, {"code", "RPC_E_CALL_REJECTED"}});
    EXPECT_EQ(Run(m_outlook, {"4", file, "Corvane Survey", "0"}), 75) << m_err.str();
    EXPECT_EQ(Folder("Inbox"), std::vector<std::string>{"a"});
    ASSERT_EQ(Run(m_outlook, {"4", file, "Corvane Survey", "0"}), 0) << m_err.str();
    EXPECT_EQ(ReadFile(file), "");
    EXPECT_EQ(Folder("Processed"), std::vector<std::string>{"a"});
    platform::RemoveFile(file);
    platform::RemoveFile(m_outlook.file("LVEmailAccess.outlook.state"));
  }
}

// No settings file: Outlook where it is installed, else a refusal that says
// what to do, since mail left in local folders would reach no one.
TEST_F(OutlookTransportTest, WithoutSettingsOutlookCarriesTheMailOrTheRunIsRefused) {
  Prepare({});
  ScratchDir bare;
  const std::string exchange = m_work.file("out.tmp");
  WriteFile(exchange, "<Recipient1>Ann Lee</Recipient1><Email1>ann@example.org</Email1><Body>b</Body>");
  ASSERT_EQ(Run(bare, {"2", exchange, "Corvane Survey - X", "0"}), 0) << m_err.str();
  EXPECT_EQ(State()["folders"]["Sent Items"].size(), 1u);
  EXPECT_EQ(m_out.str(), "1 handed to Outlook\n");
  m_registration.Unregister();
  EXPECT_EQ(Run(bare, {"2", exchange, "Corvane Survey - X", "0"}), 78);
  EXPECT_NE(m_err.str().find("no mail provider is set up: there is no "), std::string::npos) << m_err.str();
  EXPECT_EQ(m_out.str(), "");
}

TEST_F(OutlookTransportTest, OutlookNotInstalledExits78AndARefusedSendExits75) {
  const std::string exchange = m_work.file("out.tmp");
  WriteFile(exchange, "<Recipient1>Ann</Recipient1><Email1>ann@example.org</Email1><Body>b</Body>");
  Prepare({}, {{"name", "Send"}, {"code", "RPC_E_CALL_REJECTED"}});
  EXPECT_EQ(Run(m_outlook, {"1", exchange, "Corvane Strategy - Goal", "0"}), 75) << m_err.str();
  EXPECT_TRUE(State()["folders"]["Sent Items"].empty());
  m_registration.Unregister();
  EXPECT_EQ(Run(m_outlook, {"1", exchange, "Corvane Strategy - Goal", "0"}), 78);
  EXPECT_NE(m_err.str().find("Outlook is not installed or cannot be started"), std::string::npos) << m_err.str();
}

}  // namespace
