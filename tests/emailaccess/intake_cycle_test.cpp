// The acknowledgement cycle of operation 4: nothing lost, nothing offered
// twice, whatever LvMAPI or this program does between two runs.

#include "email_test_support.h"
#include "emailaccess/intake.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "emailaccess/offer_state.h"
#include "exchange/hand_back.h"
#include "platform/file_names.h"
#include "util/identifiers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

namespace {

using emailaccess::FetchReplies;
using emailaccess::FetchStep;
using emailaccess::MaildirTransport;
using emailaccess_test::AnsweringOurs;
using emailaccess_test::Installation;
using emailaccess_test::MaildirMessages;
using emailaccess_test::PlaceMessage;
using emailaccess_test::ScopedTimeZone;
using testing_support::Exists;
using testing_support::ReadFile;
using Keys = std::vector<std::string>;

std::string Reply(const std::string& from, const std::string& subject, const std::string& body) {
  return "From: " + from + "\nTo: lvmapi@localhost\nSubject: " + subject +
         "\nDate: Mon, 2 Mar 2026 10:00:00 +0000\nMIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\n" + body;
}

// Reads the incoming file the way LvMAPI does: each element by the first
// occurrence of its tags in the whole text, until one is missing.
std::vector<std::vector<std::string>> ReadLikeLvMAPI(const std::string& text) {
  std::vector<std::vector<std::string>> replies;
  for (int n = 1;; ++n) {
    std::vector<std::string> reply;
    for (const char* name : {"Originator", "Date", "Body"}) {
      const std::string tag = name + std::to_string(n);
      std::string value;
      if (!ExtractBetween(text, "<" + tag + ">", "</" + tag + ">", value)) return replies;
      reply.push_back(value);
    }
    replies.push_back(reply);
  }
}

class IntakeCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PlaceMessage(inbox(), "100.a", AnsweringOurs(inst, Reply("ann@example.org", "Re: Corvane Survey - Spring", "<answer1>A</answer1>\n")), 100);
    PlaceMessage(inbox(), "200.b", AnsweringOurs(inst, Reply("bob@example.org", "RE: Corvane Survey - Spring", "<answer1>B</answer1>\n")), 200);
    PlaceMessage(inbox(), "300.c", AnsweringOurs(inst, Reply("cy@example.org", "Re: Corvane Strategy - Goal", "<Percent>5</Percent>\n")), 300);
  }

  const std::string& inbox() const { return inst.config.maildir.inbox; }
  const std::string& processed() const { return inst.config.maildir.folders[emailaccess::Folder::Processed]; }

  emailaccess::FetchOutcome Fetch(const std::string& file, const std::string& subject = "Corvane Survey",
                                  const emailaccess::FetchObserver& observer = {}) {
    return FetchReplies(store, inst.log, inst.Request(file, subject), observer);
  }

  void Consume(const std::string& file) { ASSERT_EQ(std::remove(inst.File(file).c_str()), 0) << file; }

  size_t RepliesIn(const std::string& file) { return ReadLikeLvMAPI(ReadFile(inst.File(file))).size(); }

  ScopedTimeZone utc{"UTC"};
  Installation inst;
  MaildirTransport store{inst.config.maildir};
};

TEST_F(IntakeCycleTest, ConsumedFileMovesOnlyItsMessagesToProcessed) {
  Fetch("s.tmp");
  EXPECT_EQ(RepliesIn("s.tmp"), 2u);
  EXPECT_TRUE(MaildirMessages(processed()).empty()) << "nothing is acknowledged before LvMAPI has consumed the file";
  Consume("s.tmp");

  auto outcome = Fetch("g.tmp", "Corvane Strategy");
  EXPECT_EQ(outcome.processed, 2);
  EXPECT_EQ(MaildirMessages(processed()), (Keys{"100.a", "200.b"}));
  EXPECT_EQ(RepliesIn("g.tmp"), 1u);
  EXPECT_EQ(MaildirMessages(inbox()), (Keys{"300.c"}));
  EXPECT_NE(inst.LogText().find("acknowledged 100.a"), std::string::npos);
}

TEST_F(IntakeCycleTest, StaleFileIsRemovedAndItsMessagesOfferedAgainOnce) {
  Fetch("s1.tmp");  // LvMAPI dies before it deletes s1.tmp
  auto outcome = Fetch("s2.tmp");
  EXPECT_FALSE(Exists(inst.File("s1.tmp")));
  EXPECT_EQ(outcome.reoffered, 2);
  EXPECT_EQ(RepliesIn("s2.tmp"), 2u);
  EXPECT_TRUE(MaildirMessages(processed()).empty());

  Consume("s2.tmp");
  outcome = Fetch("s3.tmp");
  EXPECT_EQ(outcome.processed, 2);
  EXPECT_EQ(RepliesIn("s3.tmp"), 0u) << "an acknowledged reply is never offered again";
}

TEST_F(IntakeCycleTest, AcknowledgingAloneFilesConsumedRepliesAndLeavesOpenFilesAlone) {
  Fetch("s.tmp");
  Consume("s.tmp");
  auto outcome = emailaccess::AcknowledgeConsumed(store, inst.log, inst.StatePath());
  EXPECT_EQ(outcome.processed, 2);
  EXPECT_EQ(MaildirMessages(processed()), (Keys{"100.a", "200.b"}));

  Fetch("g.tmp", "Corvane Strategy");  // LvMAPI may be reading g.tmp right now
  outcome = emailaccess::AcknowledgeConsumed(store, inst.log, inst.StatePath());
  EXPECT_EQ(outcome.processed + outcome.reoffered + outcome.offered, 0);
  EXPECT_TRUE(Exists(inst.File("g.tmp")));
  EXPECT_EQ(MaildirMessages(inbox()), (Keys{"300.c"}));
  Consume("g.tmp");
  EXPECT_EQ(emailaccess::AcknowledgeConsumed(store, inst.log, inst.StatePath()).processed, 1);
  EXPECT_TRUE(MaildirMessages(inbox()).empty());
}

// LvMAPI killed before it deleted a file that offered nothing: the next run
// removes it, and only the files this program recorded.
TEST_F(IntakeCycleTest, AnEmptyFileLeftBehindIsRemovedByTheNextRunAndNothingElseIs) {
  testing_support::WriteFile(inst.File("someone-elses.tmp"), "");
  Fetch("n1.tmp", "Corvane Nothing");
  ASSERT_TRUE(Exists(inst.File("n1.tmp")));
  EXPECT_EQ(ReadFile(inst.File("n1.tmp")), "");
  Fetch("n2.tmp", "Corvane Nothing");
  EXPECT_FALSE(Exists(inst.File("n1.tmp")));
  EXPECT_TRUE(Exists(inst.File("someone-elses.tmp")));
  Consume("n2.tmp");
  Fetch("s.tmp");
  std::vector<std::string> problems;
  const auto records = emailaccess::LoadOfferRecords(inst.StatePath(), problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(records.size(), 3u) << "a consumed empty file is forgotten; s.tmp and its two replies remain";
  EXPECT_EQ(MaildirMessages(inbox()).size(), 3u) << "no message was taken for one of an empty file";
}

TEST_F(IntakeCycleTest, CrashRightAfterRemovingAStaleFileStillOffersItsRepliesAgain) {
  Fetch("s1.tmp");  // LvMAPI dies before it deletes s1.tmp
  struct Crash {};
  EXPECT_THROW(Fetch("s2.tmp", "Corvane Survey",
                     [](FetchStep step) {
                       if (step == FetchStep::EarlierOffersSettled) throw Crash{};
                     }),
               Crash);
  EXPECT_FALSE(Exists(inst.File("s1.tmp")));
  Fetch("s3.tmp");
  EXPECT_EQ(RepliesIn("s3.tmp"), 2u);
  EXPECT_TRUE(MaildirMessages(processed()).empty());
}

// The state a crash leaves while a stale file is being removed: its records
// already say pending, the file may still be there.
TEST_F(IntakeCycleTest, PendingRecordsOfAFileStillThereAreOfferedAgain) {
  testing_support::WriteFile(inst.File("old.tmp"), "<Originator1>x</Originator1>");
  emailaccess::SaveOfferRecords(inst.StatePath(), {{emailaccess::OfferStatus::Pending, inst.File("old.tmp"), "100.a"}});
  auto outcome = Fetch("s.tmp");
  EXPECT_EQ(outcome.reoffered, 1);
  EXPECT_FALSE(Exists(inst.File("old.tmp")));
  EXPECT_EQ(RepliesIn("s.tmp"), 2u);
  EXPECT_TRUE(MaildirMessages(processed()).empty());
}

TEST_F(IntakeCycleTest, ReplyMarkedReadByAMailProgramIsStillAcknowledged) {
  Fetch("s.tmp");
  // A mail program looking at the Inbox moves the message into cur/ with flags.
  const std::string info = platform::NamesMayHoldColon() ? ":" : "!";
  ASSERT_EQ(std::rename((inbox() + "/new/100.a").c_str(), (inbox() + "/cur/100.a" + info + "2,S").c_str()), 0);
  Consume("s.tmp");
  Fetch("next.tmp");
  EXPECT_EQ(MaildirMessages(processed(), false), (Keys{"100.a" + info + "2,S", "200.b" + info + "2,S"}));
}

TEST_F(IntakeCycleTest, MessageTakenAwayMeanwhileIsForgotten) {
  Fetch("s.tmp");
  Consume("s.tmp");
  ASSERT_EQ(std::remove((inbox() + "/new/100.a").c_str()), 0);
  auto outcome = Fetch("next.tmp");
  EXPECT_EQ(outcome.processed, 1);
  EXPECT_EQ(outcome.failures, 0);
  std::vector<std::string> problems;
  EXPECT_EQ(emailaccess::LoadOfferRecords(inst.StatePath(), problems),
            (std::vector<emailaccess::OfferRecord>{{emailaccess::OfferStatus::Offered, inst.File("next.tmp"), ""}}))
      << "only the record of the file itself, which offered nothing";
}

TEST_F(IntakeCycleTest, AMessageReadOnlyInPartIsOfferedAndTheLogSaysSo) {
  // More part boundaries than any mail program writes: the reply near the
  // top is still offered, and the log tells which message was cut short.
  std::string body = "Content-Type: multipart/mixed; boundary=\"e\"\n\n--e\n"
                     "Content-Type: text/plain; charset=utf-8\n\n<answer1>D</answer1>\n";
  for (int i = 0; i < 20000; ++i) body += "--e\n\n";
  body += "--e--\n";
  std::string message = Reply("dee@example.org", "Re: Corvane Survey - Spring", "");
  message.replace(message.find("Content-Type: text/plain; charset=utf-8\n\n"),
                  std::string("Content-Type: text/plain; charset=utf-8\n\n").size(), body);
  PlaceMessage(inbox(), "400.d", AnsweringOurs(inst, message), 400);

  Fetch("s.tmp");
  const auto replies = ReadLikeLvMAPI(ReadFile(inst.File("s.tmp")));
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[2][0], "dee@example.org");
  EXPECT_NE(replies[2][2].find("<answer1>D</answer1>"), std::string::npos) << replies[2][2];
  EXPECT_NE(inst.LogText().find("read only the start of 400.d"), std::string::npos) << inst.LogText();
  EXPECT_EQ(inst.LogText().find("read only the start of 100.a"), std::string::npos);
}

// A crash of this program after each lasting change: whatever LvMAPI did with
// the file meanwhile, no message reaches Processed unless a file holding it
// was consumed, and every message is offered again until one was.
struct CrashCase {
  FetchStep step;
  bool fileWritten;          // the exchange file exists after the crash
  bool lvmapiConsumes;       // LvMAPI reads and deletes it before the next run
  size_t processedAfterNext; // messages in Processed after the next run
  size_t offeredByNext;      // replies in the next run's file
};

void PrintTo(const CrashCase& c, std::ostream* os) {
  *os << "crash at step " << static_cast<int>(c.step) << (c.lvmapiConsumes ? ", file consumed" : ", file left");
}

class IntakeCrashTest : public IntakeCycleTest, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(IntakeCrashTest, NextRunLosesNothing) {
  const CrashCase& c = GetParam();
  struct Crash {};
  EXPECT_THROW(Fetch("s1.tmp", "Corvane Survey",
                     [&](FetchStep step) {
                       if (step == c.step) throw Crash{};
                     }),
               Crash);
  EXPECT_EQ(Exists(inst.File("s1.tmp")), c.fileWritten);
  if (c.lvmapiConsumes && c.fileWritten) Consume("s1.tmp");

  auto outcome = Fetch("s2.tmp");
  EXPECT_EQ(MaildirMessages(processed()).size(), c.processedAfterNext);
  EXPECT_EQ(RepliesIn("s2.tmp"), c.offeredByNext);
  EXPECT_FALSE(Exists(inst.File("s1.tmp")));
  EXPECT_FALSE(Exists(inst.File("s1.tmp.part")));
  EXPECT_EQ(outcome.processed + outcome.offered, 2) << "each reply is either acknowledged or offered";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, IntakeCrashTest,
    ::testing::Values(CrashCase{FetchStep::OffersPending, false, false, 0, 2},
                      // Written but not recorded: LvMAPI may have read it, so it is offered
                      // again rather than taken for consumed (LvMAPI stores a reply once).
                      CrashCase{FetchStep::ExchangeFileWritten, true, true, 0, 2},
                      CrashCase{FetchStep::ExchangeFileWritten, true, false, 0, 2},
                      CrashCase{FetchStep::OffersRecorded, true, true, 2, 0},
                      CrashCase{FetchStep::OffersRecorded, true, false, 0, 2}));

// A store that refuses to move one message, as a full or read-only target would.
class StubbornStore : public emailaccess::IMailStore {
 public:
  explicit StubbornStore(emailaccess::IMailStore& inner) : m_inner(inner) {}
  std::vector<emailaccess::StoredMessage> ListWaiting(const std::string& subject) override {
    return m_inner.ListWaiting(subject);
  }
  bool IsWaiting(const std::string& key) override { return m_inner.IsWaiting(key); }
  std::string Read(const std::string& key) override {
    if (lostOnRead.count(key)) throw emailaccess::TransportError("connection lost", true, kConnection);
    return m_inner.Read(key);
  }
  bool Move(const std::string& key, emailaccess::Folder folder) override {
    if (folder == emailaccess::Folder::Processed) {
      if (refuse.count(key)) throw emailaccess::TransportError("target full", false);
      if (lostOnMove.count(key)) throw emailaccess::TransportError("connection lost", true, kConnection);
    }
    return m_inner.Move(key, folder);
  }
  void Check(std::vector<emailaccess::CheckFinding>&) override {}
  std::set<std::string> refuse, lostOnRead, lostOnMove;
  static constexpr emailaccess::FailureScope kConnection = emailaccess::FailureScope::Connection;

 private:
  emailaccess::IMailStore& m_inner;
};

TEST_F(IntakeCycleTest, FailedAcknowledgementIsRetriedAndNotOfferedMeanwhile) {
  Fetch("s1.tmp");
  Consume("s1.tmp");
  StubbornStore stubborn(store);
  stubborn.refuse = {"100.a"};
  auto outcome = FetchReplies(stubborn, inst.log, inst.Request("s2.tmp", "Corvane Survey"));
  EXPECT_EQ(outcome.failures, 1);
  EXPECT_EQ(RepliesIn("s2.tmp"), 0u) << "a consumed reply waiting for its move must not be offered again";
  EXPECT_EQ(MaildirMessages(processed()), (Keys{"200.b"}));
  EXPECT_NE(inst.errors.str().find("cannot move 100.a to Processed"), std::string::npos);

  Consume("s2.tmp");
  outcome = Fetch("s3.tmp");
  EXPECT_EQ(outcome.processed, 1);
  EXPECT_EQ(MaildirMessages(processed()), (Keys{"100.a", "200.b"}));
}

TEST_F(IntakeCycleTest, ALostConnectionEndsTheRunAndTheNextRunCompletesIt) {
  Fetch("s1.tmp");
  Consume("s1.tmp");
  StubbornStore stubborn(store);
  stubborn.lostOnMove = {"100.a"};
  EXPECT_THROW(FetchReplies(stubborn, inst.log, inst.Request("s2.tmp", "Corvane Survey")), emailaccess::TransportError);
  EXPECT_FALSE(Exists(inst.File("s2.tmp")));
  EXPECT_TRUE(MaildirMessages(processed()).empty()) << "the run stopped at the first move";

  PlaceMessage(inbox(), "400.d", AnsweringOurs(inst, Reply("dee@example.org", "Re: Corvane Survey - Spring", "<answer1>D</answer1>\n")), 400);
  stubborn.lostOnMove.clear();
  stubborn.lostOnRead = {"400.d"};
  EXPECT_THROW(FetchReplies(stubborn, inst.log, inst.Request("s3.tmp", "Corvane Survey")), emailaccess::TransportError);
  EXPECT_FALSE(Exists(inst.File("s3.tmp"))) << "nothing is offered from a half-read mailbox";
  std::vector<std::string> problems;
  for (const auto& record : emailaccess::LoadOfferRecords(inst.StatePath(), problems)) {
    EXPECT_NE(record.key, "400.d") << "an unread message is not recorded";
  }

  auto outcome = Fetch("s4.tmp");
  EXPECT_EQ(MaildirMessages(processed()), (Keys{"100.a", "200.b"}));
  EXPECT_EQ(outcome.offered, 1);
  EXPECT_EQ(ReadLikeLvMAPI(ReadFile(inst.File("s4.tmp")))[0][0], "dee@example.org");
}

TEST(IntakeTagInjection, ForgedElementsInABodyCannotAddReplies) {
  ScopedTimeZone utc("UTC");
  Installation inst;
  const std::string forged =
      "<answer1>yes</answer1> <Status>ok</Status>\n"
      "</Body1>\n<Originator2>mallory@example.org</Originator2><Date2>2026-01-01 00:00:00</Date2>"
      "<Body2><answer1>forged</answer1></Body2>\n<body>lower case is no tag of ours</body>\n";
  PlaceMessage(inst.config.maildir.inbox, "1.m", AnsweringOurs(inst, Reply("eve@example.org", "Re: Corvane Survey", forged)), 1);
  MaildirTransport store(inst.config.maildir);
  auto outcome = FetchReplies(store, inst.log, inst.Request("x.tmp", "Corvane Survey"));

  const auto replies = ReadLikeLvMAPI(ReadFile(inst.File("x.tmp")));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0][0], "eve@example.org");
  EXPECT_EQ(replies[0][2],
            "<answer1>yes</answer1> <Status>ok</Status>\r\n"
            "< /Body1>\r\n< Originator2>mallory@example.org< /Originator2>< Date2>2026-01-01 00:00:00< /Date2>"
            "< Body2><answer1>forged</answer1>< /Body2>\r\n<body>lower case is no tag of ours</body>\r\n");
  EXPECT_EQ(outcome.neutralised, 7);
  EXPECT_NE(inst.LogText().find("broke 7 exchange tag(s) inside 1.m from eve@example.org"), std::string::npos);
}

TEST(IntakeDates, MissingOrInvalidDateGivesTheArrivalTime) {
  ScopedTimeZone utc("UTC");
  Installation inst;
  std::string noDate = "From: a@example.org\nSubject: Re: Corvane Survey\n\nhi\n";
  std::string badDate = "From: b@example.org\nSubject: Re: Corvane Survey\nDate: someday soon\n\nhi\n";
  PlaceMessage(inst.config.maildir.inbox, "1.m", AnsweringOurs(inst, noDate), 1772445600);   // 2026-03-02 10:00:00 UTC
  PlaceMessage(inst.config.maildir.inbox, "2.m", AnsweringOurs(inst, badDate), 1772445661);  // 2026-03-02 10:01:01 UTC
  MaildirTransport store(inst.config.maildir);
  FetchReplies(store, inst.log, inst.Request("x.tmp", "corvane survey"));
  const auto replies = ReadLikeLvMAPI(ReadFile(inst.File("x.tmp")));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0][1], "2026-03-02 10:00:00");
  EXPECT_EQ(replies[1][1], "2026-03-02 10:01:01");
}

TEST(OfferState, RecordsSurviveOddPathsAndDamagedLinesAreReported) {
  testing_support::ScratchDir dir;
  const std::string path = dir.file("LVEmailAccess.state");
  const std::vector<emailaccess::OfferRecord> records = {
      {emailaccess::OfferStatus::Pending, "/tmp/a\tb%20c\r\n.tmp", "1.m"},
      {emailaccess::OfferStatus::Offered, "/x/y.tmp", "2.m"},
      {emailaccess::OfferStatus::Consumed, "/x/z.tmp", "3.m", 12}};
  emailaccess::SaveOfferRecords(path, records);
  std::vector<std::string> problems;
  EXPECT_EQ(emailaccess::LoadOfferRecords(path, problems), records);
  EXPECT_TRUE(problems.empty());

  testing_support::WriteFile(path, ReadFile(path) + "offered\tonly-two-fields\nshipped\t/f\t4.m\noffered\t/f\t%zz\n");
  EXPECT_EQ(emailaccess::LoadOfferRecords(path, problems), records);
  EXPECT_EQ(problems.size(), 3u);
  EXPECT_FALSE(testing_support::Exists(path + ".part"));

  // A state written before reply numbers were kept still loads (number 0);
  // a number that is not one is damage.
  problems.clear();
  testing_support::WriteFile(path, "offered\t/old.tmp\t5.m\nconsumed\t/f\t6.m\t7x\n");
  EXPECT_EQ(emailaccess::LoadOfferRecords(path, problems),
            (std::vector<emailaccess::OfferRecord>{{emailaccess::OfferStatus::Offered, "/old.tmp", "5.m", 0}}));
  EXPECT_EQ(problems.size(), 1u);
}

// What LvMAPI hands back beside a consumed file decides where each of its
// replies goes: Processed when stored, Needs reading (unread) when not.
struct HandBackCase {
  const char* what;
  const char* handBack;  // null: none (an older LvMAPI)
  Keys processed, needsReading;
};

void PrintTo(const HandBackCase& c, std::ostream* out) { *out << c.what; }

class HandBackFiling : public IntakeCycleTest, public ::testing::WithParamInterface<HandBackCase> {
 protected:
  const std::string& needsReading() const { return inst.config.maildir.folders[emailaccess::Folder::NeedsReading]; }
};

TEST_P(HandBackFiling, EachReplyGoesWhereLvMAPISaid) {
  const HandBackCase& c = GetParam();
  Fetch("s.tmp");
  if (c.handBack) testing_support::WriteFile(exchange::HandBackPath(inst.File("s.tmp")), c.handBack);
  Consume("s.tmp");

  const auto outcome = Fetch("g.tmp", "Corvane Strategy");
  EXPECT_EQ(MaildirMessages(processed()), c.processed);
  EXPECT_EQ(MaildirMessages(needsReading()), c.needsReading);
  EXPECT_EQ(outcome.processed, static_cast<int>(c.processed.size()));
  EXPECT_EQ(outcome.needsReading, static_cast<int>(c.needsReading.size()));
  EXPECT_EQ(MaildirMessages(inbox()), (Keys{"300.c"}));
  // A person is still to read them: no seen flag.
  for (const std::string& name : MaildirMessages(needsReading(), false)) {
    EXPECT_EQ(name.find('S', name.find_last_of(":!")), std::string::npos) << name;
  }
  EXPECT_FALSE(Exists(exchange::HandBackPath(inst.File("s.tmp")))) << "a settled hand-back is removed";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HandBackFiling,
    ::testing::Values(
        HandBackCase{"NoHandBackMeansAllStored", nullptr, {"100.a", "200.b"}, {}},
        HandBackCase{"BothStored", "# LvMAPI hand-back: reply number, stored or unread\n1\tstored\n2\tstored\n",
                     {"100.a", "200.b"}, {}},
        HandBackCase{"SecondNotStored", "# LvMAPI hand-back: reply number, stored or unread\n1\tstored\n2\tunread\n",
                     {"100.a"}, {"200.b"}},
        HandBackCase{"AReplyNotNamedIsLeftForReading",
                     "# LvMAPI hand-back: reply number, stored or unread\n2\tstored\n1\tmaybe\n", {"200.b"},
                     {"100.a"}},
        HandBackCase{"AnUnreadableHandBackLeavesAllForReading", "garbage\n1\tstored\n", {}, {"100.a", "200.b"}}),
    [](const ::testing::TestParamInfo<HandBackCase>& info) { return info.param.what; });

// A hand-back beside a file LvMAPI did not finish is void: the replies are
// offered again and the old word about them is gone.
TEST_F(IntakeCycleTest, HandBackOfAnUnconsumedFileIsRemovedWithIt) {
  Fetch("s1.tmp");
  testing_support::WriteFile(exchange::HandBackPath(inst.File("s1.tmp")), exchange::FormatHandBack({false, false}));
  Fetch("s2.tmp");
  EXPECT_FALSE(Exists(exchange::HandBackPath(inst.File("s1.tmp"))));
  Consume("s2.tmp");
  Fetch("s3.tmp");
  EXPECT_EQ(MaildirMessages(processed()), (Keys{"100.a", "200.b"}));
}

}  // namespace
