// The ledger of mailings, and a SendRun keeping to it: nobody gets one
// mailing twice, however often it is run and wherever a run was cut short;
// and the office's words about a mailing.

#include "email_test_support.h"
#include "emailaccess/sending.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

using namespace emailaccess;
using emailaccess_test::Installation;
using emailaccess_test::MaildirMessages;
using testing_support::WriteFile;

constexpr std::int64_t kDay = 24 * 3600, kStart = 1'800'000'000;
const std::string kMailing = "survey {5E1A}";

std::string Line(const std::string& address, const char* state, const std::string& key = "") {
  return kMailing + "\t" + address + "\t" + state + "\t" + std::to_string(kStart) + "\t1\t" + key + "\n";
}

TEST(LedgerTest, WhatIsWrittenIsReadBackAndADamagedLedgerIsRefusedWhole) {
  Installation inst;
  const std::string path = inst.File(kLedgerFileName);
  Ledger written(path, 7);
  written.Set("goal\t{1}%\r\n", "Ann@Example.org", LedgerState::HandingOver, kStart);
  written.Set(kMailing, "bo@x.org", LedgerState::Queued, kStart, "1800.M1P2.host");
  written.Commit(kStart);
  Ledger read(path, 7);
  ASSERT_NE(read.Find("goal\t{1}%\r\n", "ann@EXAMPLE.org"), nullptr) << "addresses are compared without letter case";
  EXPECT_EQ(*read.Find("goal\t{1}%\r\n", "ann@example.org"),
            (LedgerEntry{"goal\t{1}%\r\n", "Ann@Example.org", LedgerState::HandingOver, kStart, kStart, ""}));
  EXPECT_EQ(read.Find(kMailing, "bo@x.org")->queueKey, "1800.M1P2.host");
  EXPECT_FALSE(platform::OthersMayRead(path));

  for (const std::string& damaged : {Line("bo@x.org", "mailed"), Line("", "sent"), kMailing + "\tbo@x.org\tsent\t-5\t1\t\n",
                                    kMailing + "\tbo@x.org\tsent\t1\t1\n", std::string("survey %zz\tbo@x.org\tsent\t1\t1\t\n")}) {
    WriteFile(path, "# header\n" + Line("ann@x.org", "sent") + damaged);
    try {
      Ledger ledger(path, 7);
      ADD_FAILURE() << "read as if whole: " << damaged;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path + ", line 3"), std::string::npos) << e.what();
    }
  }
}

TEST(LedgerTest, ARoundLastsItsDaysAndANewOneKeepsOnlyWhatIsStillComing) {
  for (const std::int64_t after : {7 * kDay - 1, 7 * kDay}) {
    SCOPED_TRACE(after);
    Installation inst;
    WriteFile(inst.File(kLedgerFileName), Line("a@x.org", "sent") + Line("b@x.org", "queued", "key-b") +
                                              Line("c@x.org", "refused") + Line("d@x.org", "answer-lost"));
    Ledger ledger(inst.File(kLedgerFileName), 7);
    const bool over = after >= 7 * kDay;
    EXPECT_EQ(ledger.BeginRound(kMailing, kStart + after), over);
    EXPECT_EQ(ledger.Entries().size(), over ? 1u : 4u) << "the one queued has it coming";
    EXPECT_EQ(ledger.Find(kMailing, "b@x.org")->roundBegan, over ? kStart + after : kStart);
    // Settled entries of a round that is over are not written again.
    ledger.Set("goal {9}", "z@x.org", LedgerState::Sent, kStart + 7 * kDay);
    ledger.Commit(kStart + 7 * kDay);
    EXPECT_EQ(Ledger(inst.File(kLedgerFileName), 7).Entries().size(), 2u);
  }
}

// Takes every message, except for addresses told to answer otherwise (once).
class RecordingSender : public IMailSender {
 public:
  std::string Send(const std::string& recipient, const std::string&) override {
    if (const auto fault = faults.find(recipient); fault != faults.end()) {
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
  // The queue, then (when `addresses` are given) the mailing, at `clock`.
  SendOutcome Run(const std::vector<std::string>& addresses = {}, const Pace& pace = {}) {
    Ledger ledger(inst.File(kLedgerFileName), 7);
    SlidingWindow window = LoadWindow(pace, inst.File(kPaceFileName));
    SendRun run(sender, inst.log, &queue);
    run.UseClock([this] { return clock; });
    run.KeepLedger(ledger);
    run.KeepPace(window, inst.File(kPaceFileName));
    run.SendQueued();
    if (!addresses.empty()) {
      std::vector<exchange::Recipient> recipients;
      for (const std::string& address : addresses) recipients.push_back({"", address});
      WriteFile(inst.File("out.tmp"), exchange::FormatOutgoing(recipients, "Dear member,\r\n", kMailing));
      run.SendExchangeFile(Mailbox{"LvMAPI", "office@example.org"}, inst.File("out.tmp"), "Corvane Survey - Spring");
    }
    office = run.OfficeLine("smtp.example.org");
    return run.outcome();
  }
  // The ledger's entries as "address state"; each queued one must name a
  // file of the queue and each file of the queue a queued entry.
  std::vector<std::string> States() {
    Ledger ledger(inst.File(kLedgerFileName), 7);
    std::vector<std::string> states, keys;
    for (const LedgerEntry* entry : ledger.Entries()) {
      states.push_back(entry->address + " " + LedgerStateName(entry->state));
      if (entry->state == LedgerState::Queued) keys.push_back(entry->queueKey);
    }
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, MaildirMessages(queue.path())) << "the queue and the ledger agree";
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
      // After it, everyone listed (those who answered LvMAPI leaves out).
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
  // Killed mid-way: a message being handed over from the queue (a), one
  // straight from the list (b), two marked for the queue whose files were
  // (c) and were not (d) written, one queued (e); and a queue file of an
  // older version that knew no ledger.
  const auto key = [](const std::string& path) { return MaildirKey(path.substr(path.find_last_of("/\\") + 1)); };
  const std::string a = key(queue.Deliver("To: a@x.org\r\n\r\nx\r\n"));
  queue.Deliver("To: C@x.org\r\n\r\nx\r\n");
  const std::string e = key(queue.Deliver("To: e@x.org\r\n\r\nx\r\n"));
  queue.Deliver("To: old@x.org\r\n\r\nx\r\n");
  WriteFile(inst.File(kLedgerFileName), Line("a@x.org", "handing-over", a) + Line("b@x.org", "handing-over") +
                                            Line("c@x.org", "queued") + Line("d@x.org", "queued") +
                                            Line("e@x.org", "queued", e));
  EXPECT_EQ(Run().answerLost, 2);
  EXPECT_EQ(sender.taken, (std::vector<std::string>{"C@x.org", "e@x.org", "old@x.org"}));
  for (const char* told : {"a@x.org (survey {5E1A}) was being handed over when an earlier run was cut short",
                           "b@x.org (survey {5E1A}) was being handed over", "d@x.org (survey {5E1A}) is not in the queue"}) {
    EXPECT_NE(inst.LogText().find(told), std::string::npos) << told;
  }
  EXPECT_EQ(States(), (std::vector<std::string>{"a@x.org answer-lost", "b@x.org answer-lost", "c@x.org sent",
                                                "e@x.org sent"}));
  sender.taken.clear();
  Run({"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"});
  EXPECT_EQ(sender.taken, std::vector<std::string>{"d@x.org"}) << "only the one whose message never left";
}

TEST_F(LedgerRunTest, WhatThePaceHoldsBackWaitsNamedInTheLedgerThroughARefusalOfEveryMessage) {
  const Pace pace{2, 600, 0, ""};
  const std::vector<std::string> list = {"a@x.org", "b@x.org", "c@x.org", "d@x.org"};
  Run(list, pace);
  EXPECT_EQ(office.rfind("2 of 4 sent; smtp.example.org takes 2 every 600 s, the other 2 go out by themselves by ", 0), 0u);
  clock += 601;
  sender.faults["c@x.org"] = std::make_exception_ptr(LoginError("535 login refused"));
  EXPECT_THROW(Run({}, pace), LoginError);
  EXPECT_EQ(States().size(), 4u) << "the one it met still waits";
  Run({}, pace);
  EXPECT_EQ(sender.taken, list);
  EXPECT_TRUE(MaildirMessages(queue.path()).empty());
}

TEST(OfficeWordsTest, TheOfficeHearsHowTheRestGoesOut) {
  const std::string never = ". Do not send it again: nobody gets it twice.";
  const std::pair<OfficeFacts, std::string> cases[] = {
      {{30, 300, 270, 0, Holdback::Window, false, "Microsoft 365", "30 a minute", "10:42"},
       "30 of 300 sent; Microsoft 365 takes 30 a minute, the other 270 go out by themselves by about 10:42" + never},
      {{100, 300, 200, 0, Holdback::Quota, false, "Google Workspace", "", "09:15 tomorrow"},
       "100 of 300 sent; Google Workspace's daily sending limit is reached, the other 200 go out after 09:15 tomorrow" +
           never},
      {{6, 6, 0, 294, Holdback::None, false, "h", "", ""}, "294 already have it or have it coming, 6 sent now"},
      {{2, 3, 1, 1, Holdback::Throttled, false, "smtp.x.org", "", "10:43"},
       "1 already has it or has it coming; 2 of 3 sent; smtp.x.org asks to slow down, the other one goes out by "
       "itself by about 10:43" + never},
      {{0, 5, 5, 0, Holdback::None, true, "smtp.x.org", "", ""},
       "0 of 5 sent; smtp.x.org cannot be reached now, the other 5 go out by themselves once it can" + never},
      {{300, 300, 0, 0, Holdback::None, false, "h", "", ""}, ""},
  };
  for (const auto& [facts, line] : cases) EXPECT_EQ(OfficeWords(facts), line);
}

}  // namespace
