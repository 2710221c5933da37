// transport = graph against the Microsoft Graph stand-in (graph_standin.py):
// what is sent, what is fetched and filed, Graph's refusals, and a run cut
// off at each step of the intake.

#include "email_test_support.h"
#include "server_fixture.h"

#include "emailaccess/graph/graph_store.h"
#include "emailaccess/intake.h"
#include "emailaccess/offer_state.h"
#include "emailaccess/pace.h"
#include "emailaccess/sent_register.h"
#include "emailaccess/signin/oauth2.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <ctime>
#include <map>
#include <set>
#include <sstream>

namespace {

using emailaccess_test::Holds;
using emailaccess_test::ReplyText;
using emailaccess_test::ServerTest;
using nlohmann::json;
using testing_support::ReadFile;
using testing_support::WriteFile;

class GraphTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    const std::string path = Bin("LVEmailAccess.conf");
    WriteFile(path, ConfigText());
    chmod(path.c_str(), 0600);
  }

  std::string ConfigText() const {
    return "[general]\nsender = Grace Fellowship <office@grace.example.org>\ntransport = graph\n"
           "[graph]\nurl = https://127.0.0.1:" + std::to_string(m_servers->graph) + "/v1.0\n"
           "[oauth2]\ntoken_command = /bin/echo " + m_servers->graphToken + "\n"
           "[tls]\nca_file = " + m_servers->cert + "\n[network]\nretries = 2\nretry_wait_ms = 20\n";
  }

  std::ostringstream m_errors;

  json Graph(const std::string& command) { return json::parse(m_servers->Command("graph " + command)); }
  // The messages of a folder; none when it does not exist (yet).
  json Messages(const std::string& folder) {
    const json folders = Graph("folders")["folders"];
    for (const json& one : folders) {
      if (one["displayName"] == folder || folder == "inbox" || folder == "sentitems") {
        return Graph("messages " + folder)["messages"];
      }
    }
    return json::array();
  }
  int Counted(const std::string& kind) { return Graph("stats")["counts"].value(kind, 0); }

  // `text` into the Inbox, `count` times ("{n}" numbered), or once with `options`.
  void Deliver(const std::string& text, int count = 0, const std::string& options = "") {
    static int files = 0;
    const std::string path = m_dir.file("graph" + std::to_string(++files) + ".eml");
    WriteFile(path, text);
    Graph(count > 0 ? "deliver-many inbox " + path + " " + std::to_string(count) : "deliver inbox " + path + " " + options);
  }

  // Operation 4 in this process (with `file` empty only the filing of
  // consumed replies), against a stand-in whose searches give at most
  // `searchLimit` results.
  emailaccess::FetchOutcome Fetch(const std::string& file, const emailaccess::FetchObserver& observer = {},
                                  size_t searchLimit = emailaccess::kSearchLimit) {
    const std::string dir = Bin("");
    emailaccess::Config config = emailaccess::ParseConfig(ConfigText(), dir, "test");
    emailaccess::EventLog log(dir + emailaccess::kLogFileName, m_errors);
    config.graph.tokens = std::make_shared<emailaccess::AccessTokens>(config, log);
    emailaccess::GraphStore store(config, log, searchLimit);
    emailaccess::FetchRequest request;
    request.exchangeFile = Bin(file);
    request.subject = "Corvane Survey";
    request.ownAddress = config.senderAddress;
    request.statePath = dir + emailaccess::kStateFileName;
    request.sentRegisterPath = dir + emailaccess::kSentRegisterFileName;
    if (file.empty()) return emailaccess::AcknowledgeConsumed(store, log, request.statePath);
    return emailaccess::FetchReplies(store, log, request, observer);
  }

  size_t Offered(const std::string& file) {
    size_t n = 0;
    while (Holds(ReadFile(Bin(file)), "<Originator" + std::to_string(n + 1) + ">")) ++n;
    return n;
  }
};

TEST_F(GraphTest, EachMessageGoesOutAsComposedWithItsMessageIdKeptAndACopyInSentItems) {
  Graph("bounce gone@example.org");
  const auto run = Run({"2", WriteOutgoing({{"Ann Lee", "ann.lee@example.org"}, {"", "bob@example.org"}, {"", "gone@example.org"}}),
                        "Corvane Survey - Spring", "0"});
  ASSERT_EQ(run.exitCode, 0) << run.err << Log();
  EXPECT_TRUE(Holds(run.out, "3 sent through 127.0.0.1")) << run.out;
  // Exchange's report names the Message-ID we gave: the sent register knows it.
  const auto fetch = Run({"4", Bin("in1.tmp"), "Corvane Survey", "0"});
  EXPECT_TRUE(Holds(fetch.out, "Not delivered to gone@example.org")) << fetch.out << Log();
  EXPECT_TRUE(Holds(Log(), "one of our mailings, moved to Undeliverable")) << Log();
  const json delivered = Graph("delivered")["delivered"];
  ASSERT_EQ(delivered.size(), 2u);
  std::set<std::string> sentIds;
  for (const json& copy : Messages("sentitems")) sentIds.insert(copy["internetMessageId"].get<std::string>());
  const std::string registered = ReadFile(Bin(emailaccess::kSentRegisterFileName));
  for (const json& one : delivered) {
    const std::string mime = one["mime"], recipient = one["recipient"];
    const size_t at = mime.find("Message-ID: <") + 13;
    const std::string id = mime.substr(at, mime.find('>', at) - at);
    EXPECT_TRUE(Holds(registered, id)) << "the sent register knows " << id;
    EXPECT_EQ(sentIds.count("<" + id + ">"), 1u) << "Sent Items keeps " << id;
    EXPECT_TRUE(Holds(mime, "To: " + std::string(recipient == "bob@example.org" ? "" : "Ann Lee <") + recipient));
    EXPECT_TRUE(Holds(mime, "From: Grace Fellowship <office@grace.example.org>\r\n")) << mime;
    EXPECT_TRUE(Holds(mime, "<answer1></answer1>")) << mime;
  }
}

// More replies than one search gives (the stand-in's limit made small),
// among more other mail than one page: every reply is offered once, unread,
// and filed in batches under the id it was offered by.
TEST_F(GraphTest, EveryPageIsFollowedAndRepliesAreFiledInBatchesUnderTheirImmutableIds) {
  constexpr int kReplies = 45, kOthers = 1200, kSearchLimit = 30;
  Graph("search-limit " + std::to_string(kSearchLimit));
  Deliver("From: Carl <carl@example.org>\r\nSubject: Lunch {n}\r\nMessage-ID: <o{n}@example.org>\r\n\r\nhi\r\n", kOthers);
  Deliver(ReplyText("Ann Lee <ann@example.org>", "Re: Corvane Survey - Spring", "<answer1>{n}</answer1>\r\n"), kReplies);
  Graph("stats reset");
  Fetch("in1.tmp", {}, kSearchLimit);
  EXPECT_EQ(Offered("in1.tmp"), static_cast<size_t>(kReplies));
  EXPECT_TRUE(Holds(Log(), "as many as Graph gives")) << Log();
  const json counts = Graph("stats")["counts"];
  EXPECT_EQ(counts.value("read", 0), kReplies) << counts;
  EXPECT_EQ(counts.value("search", 0), 1) << counts;
  EXPECT_GE(counts.value("page", 0), 1) << "the listing's next page" << counts;
  for (const json& message : Messages("inbox")) ASSERT_FALSE(message["isRead"].get<bool>()) << "reading marked it read";

  ASSERT_EQ(std::remove(Bin("in1.tmp").c_str()), 0);  // LvMAPI consumed it
  Graph("stats reset");
  EXPECT_EQ(Fetch("").processed, kReplies);
  const json processed = Messages("Processed");
  ASSERT_EQ(processed.size(), static_cast<size_t>(kReplies));
  std::set<std::string> ids;
  for (const json& message : processed) {
    EXPECT_TRUE(message["isRead"].get<bool>());
    ids.insert(message["immutableId"].get<std::string>());
  }
  EXPECT_EQ(Messages("inbox").size(), static_cast<size_t>(kOthers));
  const int batches = Counted("batch"), perBatch = static_cast<int>(emailaccess::kRequestsPerBatch);
  EXPECT_LE(batches, 3 * ((kReplies + perBatch - 1) / perBatch)) << "looks, marks and moves, twenty to a batch";
  EXPECT_TRUE(Holds(Log(), "moved AAkAL") || Holds(Log(), "acknowledged AAkAL")) << "keys are immutable ids";
  EXPECT_EQ(ids.size(), static_cast<size_t>(kReplies));
}

// Outlook's report items are delivery reports by their message class, also
// when their text alone would not say it came from a robot.
TEST_F(GraphTest, ReportItemsOfOurMailingsGoToUndeliverableAndRepliesAreOffered) {
  const std::string bounce = emailaccess_test::Fixture("exchange_bounce.eml");
  Deliver(bounce);
  const std::string text =
      "From: Microsoft Outlook <MicrosoftExchange329e71ec88ae4615bbc36ab6ce41109e@corvane-church.org>\r\n"
      "To: <office@grace.example.org>\r\nSubject: Undeliverable: Corvane Survey - Spring\r\n"
      "Content-Type: text/plain\r\n\r\nDelivery has failed to these recipients or groups:\r\n\r\n"
      "gone@corvane-church.org\r\nThe e-mail address you entered couldn't be found.\r\n";
  Deliver(text, 0, "class=REPORT.IPM.Note.NDR");
  Deliver(ReplyText("Ann Lee <ann@example.org>", "Re: Corvane Survey - Spring", "<answer1>x</answer1>\r\n"));
  const auto run = Run({"4", Bin("in1.tmp"), "Corvane Survey", "0"});
  ASSERT_EQ(run.exitCode, 0) << run.err << Log();
  EXPECT_EQ(Offered("in1.tmp"), 1u);
  EXPECT_EQ(Messages("Undeliverable").size(), 2u) << Log();
  EXPECT_TRUE(Holds(run.out, "Not delivered to old.member@corvane-church.org")) << run.out;
  EXPECT_TRUE(Holds(run.out, "Not delivered to gone@corvane-church.org")) << run.out;
}

// Graph's refusals, one at a time, for a mailing to three and a fetch of one reply.
struct Refusal {
  const char* name;
  const char* fault;   // the stand-in's fault command
  bool sending;        // operation 2, else operation 4
  int exitCode;
  const char* told;    // in the log
  size_t delivered;    // sent: copies delivered; fetched: replies offered
  int heldFor = 0;     // sent: the least seconds the rest is held for
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class GraphRefusalTest : public GraphTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(GraphRefusalTest, IsToldAndNothingIsDoubled) {
  const Refusal& r = GetParam();
  if (!r.sending) Deliver(ReplyText("Ann Lee <ann@example.org>", "Re: Corvane Survey - Spring", "<answer1>x</answer1>\r\n"));
  Graph(std::string("fault ") + r.fault);
  const auto run = r.sending ? Run({"2", WriteOutgoing({{"", "a@example.org"}, {"", "b@example.org"}, {"", "c@example.org"}}),
                                    "Corvane Survey - Spring", "0"})
                             : Run({"4", Bin("in1.tmp"), "Corvane Survey", "0"});
  EXPECT_EQ(run.exitCode, r.exitCode) << run.err << Log();
  EXPECT_TRUE(Holds(Log(), r.told)) << r.told << "\n" << Log();
  if (r.heldFor > 0) {
    const std::int64_t now = std::time(nullptr);
    const auto held = emailaccess::LoadWindow(emailaccess::Pace{}, Bin("LVEmailAccess.pace")).NextSendAllowed(now);
    EXPECT_GE(held, now + r.heldFor - 5) << ReadFile(Bin("LVEmailAccess.pace"));
  }
  if (!r.sending) {
    EXPECT_EQ(testing_support::Exists(Bin("in1.tmp")) ? Offered("in1.tmp") : 0u, r.delivered);
    return;
  }
  EXPECT_EQ(Graph("delivered")["delivered"].size(), r.delivered);
  // What waits goes out later, once the hold has passed (its record gone);
  // nothing handed over goes out twice. The sender the mailing started
  // waits for the hold: ended, as a restart of the computer would end it.
  Graph("fault clear");
  StopPrograms();
  std::remove(Bin("LVEmailAccess.pace").c_str());
  Run({"--send-queued"});
  // A sender the kill did not reach yet may be the one at work now.
  EXPECT_TRUE(WaitUntilNoneRuns(std::chrono::seconds(30)));
  std::map<std::string, int> copies;
  const json delivered = Graph("delivered")["delivered"];
  for (const json& one : delivered) ++copies[one["recipient"].get<std::string>()];
  for (const char* address : {"a@example.org", "b@example.org", "c@example.org"}) {
    EXPECT_EQ(copies[address], r.exitCode == 78 ? 0 : 1) << address;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Graph, GraphRefusalTest,
    ::testing::Values(
        Refusal{"ThrottledReadWaitsForRetryAfter", "read 429 retry-after=1", false, 0, "trying again in 1000 ms", 1},
        Refusal{"UnavailableSearchEndsAsTemporary", "search 503 count=5 retry-after=0", false, 75, "failed for now", 0},
        Refusal{"TooLongAWaitIsNotWaitedFor", "search 429 retry-after=3600", false, 75, "it asks to wait 3600 s", 0},
        Refusal{"RefusedTokenIsRenewedOnce", "search 401", false, 0, "running it once more", 1},
        Refusal{"RefusedAgainMeansSignInAgain", "any 401 count=2", false, 78, "sign in again (LVEmailAccess --authorize)", 0},
        Refusal{"MissingPermissionIsNamed", "send 403", true, 78, "lacks the permission Mail.Send", 0},
        Refusal{"ThrottledSendingQueuesTheRest", "send 429 after=1", true, 0, "throttles the sending", 1, 60},
        Refusal{"ThrottledSendingWaitsTheLongerRetryAfter", "send 429 after=1 retry-after=300", true, 0,
                "it asks to wait 300 s", 1, 300},
        Refusal{"LostAnswerIsNotSentAgain", "send cut", true, 0, "handed over, answer lost: a@example.org", 3}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

// The intake in this process, cut off after each lasting change.
struct Cut {
  emailaccess::FetchStep step;
  bool lvmapiConsumes;        // LvMAPI read and deleted the file before the next run
  size_t processedAfterNext;  // in Processed after the next run
  size_t offeredByNext;
};

void PrintTo(const Cut& c, std::ostream* os) { *os << "cut after step " << static_cast<int>(c.step); }

class GraphCutTest : public GraphTest, public ::testing::WithParamInterface<Cut> {};

TEST_P(GraphCutTest, TheNextRunLosesNothingAndDoublesNothing) {
  const Cut& c = GetParam();
  for (const char* who : {"Ann <ann@example.org>", "Bob <bob@example.org>"}) {
    Deliver(ReplyText(who, "Re: Corvane Survey - Spring", "<answer1>x</answer1>\r\n"));
  }
  struct Killed {};
  EXPECT_THROW(Fetch("s1.tmp", [&](emailaccess::FetchStep step) {
                 if (step == c.step) throw Killed{};
               }),
               Killed);
  if (c.lvmapiConsumes) std::remove(Bin("s1.tmp").c_str());
  for (const json& message : Messages("inbox")) EXPECT_FALSE(message["isRead"].get<bool>());
  const auto outcome = Fetch("s2.tmp");
  EXPECT_EQ(Messages("Processed").size(), c.processedAfterNext);
  EXPECT_EQ(Offered("s2.tmp"), c.offeredByNext);
  EXPECT_EQ(outcome.processed + outcome.offered, 2) << "each reply is either filed or offered";
}

INSTANTIATE_TEST_SUITE_P(Graph, GraphCutTest,
                         ::testing::Values(Cut{emailaccess::FetchStep::EarlierOffersSettled, false, 0, 2},
                                           Cut{emailaccess::FetchStep::OffersPending, false, 0, 2},
                                           Cut{emailaccess::FetchStep::ExchangeFileWritten, true, 0, 2},
                                           Cut{emailaccess::FetchStep::OffersRecorded, true, 2, 0},
                                           Cut{emailaccess::FetchStep::OffersRecorded, false, 0, 2}),
                         [](const ::testing::TestParamInfo<Cut>& info) {
                           return "AfterStep" + std::to_string(static_cast<int>(info.param.step)) +
                                  (info.param.lvmapiConsumes ? "FileConsumed" : "FileLeft");
                         });

// LvMAPI's command 5 over Graph: a goal status reply updates the goal's
// task in To Do; once an iCalendar folder stands beside the program, that
// folder's task instead, and To Do is left alone.
TEST_F(GraphTest, AGoalStatusReplyUpdatesTheGoalsToDoTaskUnlessATaskFolderIsChosen) {
  const std::string goal = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}";
  testing_support::CreateDatabase(Bin("church.db"), true);
  Graph(R"(add-task {"title": "Youth room", "body": "Renovate )" + goal + R"("})");
  const auto command5 = [&](const std::string& status, const std::string& comment) {
    Deliver(ReplyText("Robert James O'Brien <rob.obrien@example.org>",
                      "Re: Corvane Strategy: New Goal: Renovate the youth room",
                      "<Status> " + status + " </Status>\r\n<Comment>" + comment +
                          "</Comment>\r\n<StrategyId>{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}</StrategyId>\r\n"
                          "<GoalId>" + goal + "</GoalId>\r\n"));
    const auto run = testing_support::Run(Bin("LvMAPI"), {"church.db", "5"}, {{"TZ", "UTC"}}, m_dir.path());
    EXPECT_EQ(run.exitCode, 0) << run.err << ReadFile(Bin("LvMAPI.log"));
  };
  command5("40", "Painting done");
  const json task = Graph("tasks")["lists"][0]["tasks"][0];
  EXPECT_EQ(task["status"], "inProgress");
  const std::string body = task["body"]["content"];
  EXPECT_EQ(body.rfind("Renovate " + goal + "\r\nPercentage complete updated to 40\r\nUpdate processed on ", 0), 0u)
      << body;
  EXPECT_TRUE(body.ends_with(": Painting done")) << body;

  ASSERT_EQ(mkdir(Bin("Tasks").c_str(), 0700), 0);
  WriteFile(Bin("Tasks/youth.ics"), "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Tasks 1.0//EN\r\n"
                                    "BEGIN:VTODO\r\nUID:youth\r\nDTSTAMP:20270101T080000Z\r\nDESCRIPTION:Renovate " +
                                        goal + "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
  command5("100", "Finished");
  const std::string ics = ReadFile(Bin("Tasks/youth.ics"));
  EXPECT_TRUE(Holds(ics, "PERCENT-COMPLETE:100\r\n") && Holds(ics, "Finished")) << ics;
  EXPECT_EQ(Graph("tasks")["lists"][0]["tasks"][0], task) << "the folder wins; To Do is left alone";
}

// The goal's task in To Do, by --update-goal-task: ten tasks without the
// goal fill the first list's first page, so the task that holds it is found
// on a second list after a second page; a later task holding it stays.
struct TaskUpdate {
  const char* name;
  const char* goal;
  const char* percent;
  const char* setup;  // a stand-in command before the run, or a transport; empty: none
  int exitCode;
  const char* status;  // of the task holding the goal afterwards; null: nothing changed
  const char* told;    // in the log
};

void PrintTo(const TaskUpdate& t, std::ostream* os) { *os << t.name; }

constexpr const char kGoal[] = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}";

class GraphTaskTest : public GraphTest, public ::testing::WithParamInterface<TaskUpdate> {
 protected:
  void AddTasks() {
    for (int n = 1; n <= 11; ++n) {
      Graph(R"(add-task {"list": "Tasks", "title": "Errand )" + std::to_string(n) + R"(", "body": "nothing of goals"})");
    }
    Graph(std::string(R"(add-task {"list": "Goals", "title": "Youth room", "body": "Renovate )") + kGoal + R"("})");
    Graph(std::string(R"(add-task {"list": "Goals", "title": "Again", "body": "Also )") + kGoal + R"("})");
  }
  // The tasks of list `list`, in order.
  json Tasks(const std::string& list) {
    const json lists = Graph("tasks")["lists"];
    for (const json& one : lists) {
      if (one["displayName"] == list) return one["tasks"];
    }
    return json::array();
  }
};

TEST_P(GraphTaskTest, TheFirstTaskHoldingTheGoalGetsTheStatus) {
  const TaskUpdate& t = GetParam();
  AddTasks();
  const std::string setup = t.setup;
  if (setup == "maildir") {
    WriteFile(Bin("LVEmailAccess.conf"), "[general]\nsender = office@grace.example.org\ntransport = maildir\n");
  } else if (!setup.empty()) {
    Graph(setup);
  }
  const json before = Graph("tasks")["lists"];
  const auto run = Run({"--update-goal-task", t.goal, t.percent, "On track, it's \"fine\""});
  EXPECT_EQ(run.exitCode, t.exitCode) << run.err << Log();
  EXPECT_TRUE(Holds(Log(), t.told)) << t.told << "\n" << Log();
  if (!t.status) {
    EXPECT_EQ(Graph("tasks")["lists"], before) << "nothing changed";
    return;
  }
  const json goals = Tasks("Goals");
  ASSERT_EQ(goals.size(), 2u);
  EXPECT_EQ(goals[0]["status"], t.status);
  const std::string body = goals[0]["body"]["content"];
  EXPECT_EQ(body.rfind(std::string("Renovate ") + kGoal + "\r\nPercentage complete updated to " + t.percent +
                           "\r\nUpdate processed on ", 0), 0u) << body;
  EXPECT_TRUE(body.ends_with(": On track, it's \"fine\"")) << body;
  EXPECT_EQ(goals[1], before[1]["tasks"][1]) << "only the first task holding the goal changes";
  EXPECT_EQ(Tasks("Tasks"), before[0]["tasks"]);
}

INSTANTIATE_TEST_SUITE_P(
    Graph, GraphTaskTest,
    ::testing::Values(
        TaskUpdate{"FortyPercentIsInProgress", kGoal, "40", "", 0, "inProgress", "status inProgress"},
        TaskUpdate{"AHundredIsCompleted", kGoal, "100", "", 0, "completed", "status completed"},
        TaskUpdate{"NoneIsNotStarted", kGoal, "0", "", 0, "notStarted", "status notStarted"},
        TaskUpdate{"AGoalNoTaskHoldsChangesNothing", "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0009}", "40", "", 66, nullptr,
                   "no To Do task holds the goal {F1000001-AAAA-4BBB-8CCC-DDDDEEEE0009} (13 task(s) in 2 list(s)"},
        TaskUpdate{"TheCaseOfTheGoalCounts", "{f1000001-aaaa-4bbb-8ccc-ddddeeee0002}", "40", "", 66, nullptr,
                   "no To Do task holds the goal"},
        TaskUpdate{"AMissingPermissionIsNamed", kGoal, "40", "scopes Mail.ReadWrite Mail.Send", 78,
                   nullptr, "lacks the permission Tasks.ReadWrite"},
        TaskUpdate{"AnUnavailableServiceIsTemporary", kGoal, "40", "fault todo 503 count=5 retry-after=0",
                   75, nullptr, "failed for now"},
        TaskUpdate{"AnotherTransportKeepsNoTasks", kGoal, "40", "maildir", 69, nullptr,
                   "transport = maildir keeps no tasks here; nothing done"}),
    [](const ::testing::TestParamInfo<TaskUpdate>& info) { return info.param.name; });

}  // namespace
