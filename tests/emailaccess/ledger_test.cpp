// The ledger of mailings: its file, its rounds, and a SendRun keeping to it
// so that nobody gets one mailing twice, however often it is run and
// wherever a run was cut short; and the office's words about a mailing.

#include "email_test_support.h"
#include "emailaccess/ledger.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "emailaccess/sending.h"
#include "exchange/outgoing.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <map>

namespace {

using namespace emailaccess;
using emailaccess_test::Installation;
using emailaccess_test::MaildirMessages;
using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr std::int64_t kDay = 24 * 3600;
constexpr std::int64_t kStart = 1'800'000'000;
const char kMailing[] = "survey {5E1A}";

std::vector<LedgerEntry> EntriesOf(Ledger& ledger) {
  std::vector<LedgerEntry> entries;
  for (const LedgerEntry* entry : ledger.Entries()) entries.push_back(*entry);
  return entries;
}

TEST(LedgerTest, WhatIsWrittenIsReadBackPrivately) {
  Installation inst;
  const std::string path = inst.File(kLedgerFileName);
  {
    Ledger ledger(path, 7);
    EXPECT_TRUE(ledger.Entries().empty()) << "a missing file holds none";
    ledger.BeginRound("goal\t{1}%\r\n", kStart);
    ledger.Set("goal\t{1}%\r\n", "Ann@Example.org", LedgerState::HandingOver, kStart + 1);
    ledger.Set(kMailing, "bo@example.org", LedgerState::Queued, kStart + 2, "1800.M1P2.host");
    for (LedgerState state : {LedgerState::Sent, LedgerState::Refused, LedgerState::AnswerLost}) {
      ledger.Set(kMailing, std::string(LedgerStateName(state)) + "@example.org", state, kStart + 3);
    }
    ledger.Commit(kStart + 3);
  }
  Ledger again(path, 7);
  const std::vector<LedgerEntry> entries = EntriesOf(again);
  ASSERT_EQ(entries.size(), 5u);
  const LedgerEntry* ann = again.Find("goal\t{1}%\r\n", "ann@EXAMPLE.org");
  ASSERT_NE(ann, nullptr) << "addresses are compared without letter case";
  EXPECT_EQ(*ann, (LedgerEntry{"goal\t{1}%\r\n", "Ann@Example.org", LedgerState::HandingOver, kStart, kStart + 1, ""}));
  EXPECT_EQ(again.Find(kMailing, "bo@example.org")->queueKey, "1800.M1P2.host");
  EXPECT_EQ(again.Find(kMailing, "answer-lost@example.org")->state, LedgerState::AnswerLost);
  EXPECT_EQ(again.Find("goal {1}", "ann@example.org"), nullptr);
  EXPECT_FALSE(platform::OthersMayRead(path));
}

TEST(LedgerTest, ADamagedLedgerIsRefusedWhole) {
  const std::string good = "survey {5E1A}\tann@example.org\tsent\t1800000000\t1800000001\t\n";
  const char* damaged[] = {
      "survey {5E1A}\tbo@example.org\tmailed\t1800000000\t1800000001\t\n",     // no such state
      "survey {5E1A}\tbo@example.org\tsent\t1800000000\t1800000001\n",         // a field short
      "survey {5E1A}\tbo@example.org\tsent\tyesterday\t1800000001\t\n",        // not a time
      "survey {5E1A}\tbo@example.org\tsent\t-5\t1800000001\t\n",               // before 1970
      "survey %zz\tbo@example.org\tsent\t1800000000\t1800000001\t\n",          // a broken escape
      "survey {5E1A}\t\tsent\t1800000000\t1800000001\t\n",                     // no address
      "\tbo@example.org\tsent\t1800000000\t1800000001\t\n",                    // no mailing
  };
  for (const char* line : damaged) {
    SCOPED_TRACE(line);
    Installation inst;
    const std::string path = inst.File(kLedgerFileName);
    WriteFile(path, "# header\n" + good + line);
    try {
      Ledger ledger(path, 7);
      ADD_FAILURE() << "read as if whole";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path + ", line 3"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("nothing was sent"), std::string::npos) << e.what();
    }
  }
}

TEST(LedgerTest, ARoundLastsItsDaysAndANewOneKeepsOnlyWhatIsStillComing) {
  struct Case {
    std::int64_t after;  // seconds after the first round began
    bool newRound;
    std::vector<std::string> left;  // the addresses still in the ledger
  };
  const Case cases[] = {
      {0, false, {"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"}},
      {7 * kDay - 1, false, {"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"}},
      {7 * kDay, true, {"b@x.org"}},  // the queued one still has it coming
      {400 * kDay, true, {"b@x.org"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.after);
    Installation inst;
    Ledger ledger(inst.File(kLedgerFileName), 7);
    ASSERT_TRUE(ledger.BeginRound(kMailing, kStart)) << "a first mailing begins its round";
    ledger.Set(kMailing, "a@x.org", LedgerState::Sent, kStart);
    ledger.Set(kMailing, "b@x.org", LedgerState::Queued, kStart, "key-b");
    ledger.Set(kMailing, "c@x.org", LedgerState::Refused, kStart);
    ledger.Set(kMailing, "d@x.org", LedgerState::AnswerLost, kStart);
    ledger.Set(kMailing, "e@x.org", LedgerState::Sent, kStart + kDay);  // a member added a day later
    ledger.Set("goal {9}", "a@x.org", LedgerState::Sent, kStart);        // another mailing keeps its own
    EXPECT_EQ(ledger.BeginRound(kMailing, kStart + c.after), c.newRound);
    std::vector<std::string> left;
    for (const LedgerEntry& entry : EntriesOf(ledger)) {
      if (entry.mailing != kMailing) continue;
      left.push_back(entry.address);
      EXPECT_EQ(entry.roundBegan, c.newRound ? kStart + c.after : kStart) << entry.address;
    }
    EXPECT_EQ(left, c.left);
    EXPECT_NE(ledger.Find("goal {9}", "a@x.org"), nullptr);
    // Settled entries of a round that is over are not written again.
    ledger.Commit(kStart + 7 * kDay);
    Ledger written(inst.File(kLedgerFileName), 7);
    EXPECT_EQ(written.Find("goal {9}", "a@x.org"), nullptr);
    EXPECT_NE(written.Find(kMailing, "b@x.org"), nullptr) << "still coming";
  }
}

// Takes every message, except for addresses told to answer otherwise (once).
class RecordingSender : public IMailSender {
 public:
  std::string Send(const std::string& recipient, const std::string&) override {
    const auto fault = faults.find(recipient);
    if (fault != faults.end()) {
      const std::exception_ptr error = fault->second;
      faults.erase(fault);
      std::rethrow_exception(error);
    }
    taken.push_back(recipient);
    return "250 ok";
  }
  std::string Route() const override { return "sent through the recorder"; }
  void Check(std::vector<CheckFinding>&) override {}

  std::map<std::string, std::exception_ptr> faults;
  std::vector<std::string> taken;
};

class LedgerRunTest : public ::testing::Test {
 protected:
  // Sends the mailing to `addresses` at `clock`, after the queue, with the
  // pace `pace` kept in the pace file.
  SendOutcome Run(const std::vector<std::string>& addresses, const Pace& pace = {}) {
    std::vector<exchange::Recipient> recipients;
    for (const std::string& address : addresses) recipients.push_back({"", address});
    const std::string file = inst.File("out.tmp");
    WriteFile(file, exchange::FormatOutgoing(recipients, "Dear member,\r\n", kMailing));
    return Send(&file, pace);
  }
  SendOutcome Send(const std::string* file, const Pace& pace = {}) {
    Ledger ledger(inst.File(kLedgerFileName), 7);
    SlidingWindow window = LoadWindow(pace, inst.File(kPaceFileName));
    SendRun run(sender, inst.log, &queue);
    run.UseClock([this] { return clock; });
    run.KeepLedger(ledger);
    run.KeepPace(window, inst.File(kPaceFileName));
    run.SendQueued();
    if (file) run.SendExchangeFile(Mailbox{"LvMAPI", "office@example.org"}, *file, "Corvane Survey - Spring");
    office = run.OfficeLine("smtp.example.org");
    return run.outcome();
  }
  // The ledger's entries as "address state", and whether each queued one
  // names a file of the queue and each file of the queue an entry.
  std::vector<std::string> States(bool& agree) {
    Ledger ledger(inst.File(kLedgerFileName), 7);
    std::vector<std::string> states;
    std::vector<std::string> keys;
    for (const LedgerEntry& entry : EntriesOf(ledger)) {
      states.push_back(entry.address + " " + LedgerStateName(entry.state));
      if (entry.state == LedgerState::Queued) keys.push_back(entry.queueKey);
    }
    std::sort(keys.begin(), keys.end());
    agree = keys == MaildirMessages(queue.path());
    return states;
  }

  Installation inst;
  MaildirFolder queue{inst.File("Mail/Queue")};
  RecordingSender sender;
  std::int64_t clock = kStart;
  std::string office;
};

TEST_F(LedgerRunTest, ARerunReachesOnlyThoseWithoutItUntilTheRoundIsOver) {
  struct Case {
    std::int64_t after;
    std::vector<std::string> taken;
    const char* office;  // b, listed twice, has it the second time
  };
  const Case cases[] = {
      // Within the round: the member added since, and the one refused before.
      {3 * kDay, {"c@x.org", "d@x.org"}, "3 already have it or have it coming, 2 sent now"},
      // After it: everyone listed again (those who answered LvMAPI leaves out).
      {8 * kDay, {"A@X.org", "b@x.org", "c@x.org", "d@x.org"}, "1 already has it or has it coming, 4 sent now"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.after);
    std::remove(inst.File(kLedgerFileName).c_str());
    clock = kStart;
    sender.faults["c@x.org"] = std::make_exception_ptr(TransportError("550 mailbox unavailable", false));
    Run({"a@x.org", "b@x.org", "c@x.org"});
    sender.taken.clear();
    clock = kStart + c.after;
    Run({"A@X.org", "b@x.org", "c@x.org", "d@x.org", "b@x.org"});
    EXPECT_EQ(sender.taken, c.taken);
    EXPECT_EQ(office, c.office);
  }
}

TEST_F(LedgerRunTest, WhatAKilledRunLeftIsSettledAndNobodyGetsItTwice) {
  // A run killed mid-way: one message being handed over straight from the
  // list, one from the queue, one being queued with its file written, one
  // marked for the queue whose file never came, one queued, and a queue
  // file of an older version that knew no ledger.
  const std::string a = queue.Deliver("To: a@x.org\r\n\r\nfrom the queue\r\n");
  const std::string c = queue.Deliver("To: C@x.org\r\n\r\nqueued\r\n");
  const std::string e = queue.Deliver("To: e@x.org\r\n\r\nqueued\r\n");
  queue.Deliver("To: old@x.org\r\n\r\nolder version\r\n");
  const auto key = [](const std::string& path) { return MaildirKey(path.substr(path.find_last_of("/\\") + 1)); };
  WriteFile(inst.File(kLedgerFileName),
            std::string("# ledger\n") + kMailing + "\ta@x.org\thanding-over\t" + std::to_string(kStart) + "\t1\t" +
                key(a) + "\n" + kMailing + "\tb@x.org\thanding-over\t" + std::to_string(kStart) + "\t1\t\n" + kMailing +
                "\tc@x.org\tqueued\t" + std::to_string(kStart) + "\t1\t\n" + kMailing + "\td@x.org\tqueued\t" +
                std::to_string(kStart) + "\t1\t\n" + kMailing + "\te@x.org\tqueued\t" + std::to_string(kStart) +
                "\t1\t" + key(e) + "\n");
  clock = kStart + 60;
  const SendOutcome outcome = Send(nullptr);
  EXPECT_EQ(sender.taken, (std::vector<std::string>{"C@x.org", "e@x.org", "old@x.org"}));
  EXPECT_EQ(outcome.answerLost, 2);
  const std::string log = inst.LogText();
  for (const char* who : {"a@x.org", "b@x.org"}) {
    EXPECT_NE(log.find(std::string(who) + " (" + kMailing + ") was being handed over when an earlier run was cut short"),
              std::string::npos)
        << log;
  }
  EXPECT_NE(log.find("d@x.org (" + std::string(kMailing) + ") is not in the queue"), std::string::npos) << log;
  bool agree = false;
  EXPECT_EQ(States(agree), (std::vector<std::string>{"a@x.org answer-lost", "b@x.org answer-lost", "c@x.org sent",
                                                      "e@x.org sent"}));
  EXPECT_TRUE(agree);
  EXPECT_TRUE(MaildirMessages(queue.path()).empty());

  // Run again, the mailing reaches only the one whose message never left.
  sender.taken.clear();
  Run({"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"});
  EXPECT_EQ(sender.taken, std::vector<std::string>{"d@x.org"});
}

TEST_F(LedgerRunTest, TheQueueAndTheLedgerAgreeThroughHoldsAndFailures) {
  const Pace pace{2, 600, 0, ""};
  Run({"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"}, pace);
  EXPECT_EQ(sender.taken.size(), 2u);
  EXPECT_EQ(office.rfind("2 of 5 sent; smtp.example.org takes 2 every 600 s, the other 3 go out by themselves by about ",
                         0),
            0u)
      << office;
  bool agree = false;
  EXPECT_EQ(States(agree).size(), 5u);
  EXPECT_TRUE(agree);

  // Run again while they wait: nothing goes twice, nothing more goes early.
  EXPECT_EQ(Run({"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"}, pace).alreadyHave, 5);
  EXPECT_EQ(sender.taken.size(), 2u);

  // The window passes; the provider says the quota is used up at the
  // second: held for a day from the oldest message sent.
  clock += 600;
  sender.faults["d@x.org"] = std::make_exception_ptr(
      SendingHeld("550 5.4.5 Daily user sending limit exceeded", SendingHeld::Why::QuotaUsedUp, "quota"));
  SendOutcome outcome = Send(nullptr, pace);
  EXPECT_EQ(sender.taken.size(), 3u);
  EXPECT_EQ(outcome.heldBy, Holdback::Quota);
  clock = kStart + kDay - 1;
  Send(nullptr, pace);
  EXPECT_EQ(sender.taken.size(), 3u) << "held until the first message of the day turns a day old";
  EXPECT_NE(inst.LogText().find("sending is held until"), std::string::npos);

  // A refusal that concerns every message ends the run: the one it met
  // waits in the queue as before.
  clock = kStart + kDay;
  sender.faults["d@x.org"] = std::make_exception_ptr(LoginError("535 login refused"));
  EXPECT_THROW(Send(nullptr, pace), LoginError);
  EXPECT_EQ(States(agree).size(), 5u);
  EXPECT_TRUE(agree);
  EXPECT_EQ(MaildirMessages(queue.path()).size(), 2u);
  clock += 600;
  Send(nullptr, pace);
  EXPECT_EQ(sender.taken, (std::vector<std::string>{"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"}));
  EXPECT_TRUE(MaildirMessages(queue.path()).empty());
}

TEST_F(LedgerRunTest, ATransportThatDidNotTakeAMessageLeavesNoMarkOnIt) {
  // Without a queue (local folders, Outlook) a failure that ends the run
  // leaves the address without an entry: the next run sends it.
  sender.faults["b@x.org"] = std::make_exception_ptr(TransportError("TLS refused", false, FailureScope::Connection));
  Ledger ledger(inst.File(kLedgerFileName), 7);
  SendRun run(sender, inst.log, nullptr);
  run.KeepLedger(ledger);
  WriteFile(inst.File("out.tmp"), exchange::FormatOutgoing({{"", "a@x.org"}, {"", "b@x.org"}}, "Hi", kMailing));
  EXPECT_THROW(run.SendExchangeFile(Mailbox{"LvMAPI", "office@example.org"}, inst.File("out.tmp"), "S"), TransportError);
  bool agree = false;
  EXPECT_EQ(States(agree), std::vector<std::string>{"a@x.org sent"});
}

TEST(OfficeWordsTest, TheOfficeHearsHowTheRestGoesOut) {
  struct Case {
    OfficeFacts facts;
    const char* line;
  };
  const Case cases[] = {
      {{30, 300, 270, 0, Holdback::Window, false, "Microsoft 365", "30 a minute", "10:42"},
       "30 of 300 sent; Microsoft 365 takes 30 a minute, the other 270 go out by themselves by about 10:42. Do not "
       "send it again: nobody gets it twice."},
      {{100, 300, 200, 0, Holdback::Quota, false, "Google Workspace", "unpaced", "09:15 tomorrow"},
       "100 of 300 sent; Google Workspace's daily sending limit is reached, the other 200 go out after 09:15 "
       "tomorrow. Do not send it again: nobody gets it twice."},
      {{100, 300, 200, 0, Holdback::DayCap, false, "smtp.example.org", "unpaced", "09:15 tomorrow"},
       "100 of 300 sent; smtp.example.org's daily sending limit is reached, the other 200 go out after 09:15 "
       "tomorrow. Do not send it again: nobody gets it twice."},
      {{6, 6, 0, 294, Holdback::None, false, "smtp.example.org", "unpaced", ""},
       "294 already have it or have it coming, 6 sent now"},
      {{0, 0, 0, 1, Holdback::None, false, "smtp.example.org", "unpaced", ""}, "1 already has it or has it coming, 0 sent now"},
      {{2, 3, 1, 294, Holdback::Throttled, false, "smtp.example.org", "unpaced", "10:43"},
       "294 already have it or have it coming; 2 of 3 sent; smtp.example.org asks to slow down, the other one goes "
       "out by itself by about 10:43. Do not send it again: nobody gets it twice."},
      {{0, 5, 5, 0, Holdback::None, true, "smtp.example.org", "unpaced", ""},
       "0 of 5 sent; smtp.example.org cannot be reached now, the other 5 go out by themselves once it can. Do not "
       "send it again: nobody gets it twice."},
      {{4, 5, 1, 0, Holdback::None, false, "smtp.example.org", "unpaced", ""},
       "4 of 5 sent; the other one goes out by itself later. Do not send it again: nobody gets it twice."},
      {{300, 300, 0, 0, Holdback::None, false, "smtp.example.org", "unpaced", ""}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(OfficeWords(c.facts), c.line);
}

}  // namespace
