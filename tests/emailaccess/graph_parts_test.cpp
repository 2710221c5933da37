// transport = graph: its settings, and how Graph's answers are read.

#include "emailaccess/config.h"
#include "emailaccess/graph/graph_answers.h"
#include "emailaccess/graph/graph_store.h"
#include "emailaccess/graph/graph_tasks.h"

#include <nlohmann/json.hpp>

#include <array>

#include <gtest/gtest.h>

namespace {

using emailaccess::ConfigError;
using emailaccess::ParseConfig;

constexpr const char kGraph[] = "[general]\ntransport = graph\n";
constexpr const char kSignIn[] = "[oauth2]\nprovider = microsoft\nclient_id = abc\n";

TEST(GraphSettings, TheMicrosoftSignInAsksForGraphsPermissions) {
  const auto config = ParseConfig(std::string(kGraph) + kSignIn, "/opt/lv/", "x.conf", [](const std::string&) {
    return std::optional<std::string>();
  });
  EXPECT_EQ(config.graph.url, "https://graph.microsoft.com/v1.0");
  EXPECT_EQ(config.graph.host, "graph.microsoft.com");
  EXPECT_EQ(config.oauth2.scope,
            "https://graph.microsoft.com/Mail.ReadWrite https://graph.microsoft.com/Mail.Send "
            "https://graph.microsoft.com/Tasks.ReadWrite https://graph.microsoft.com/User.Read offline_access");
  EXPECT_TRUE(config.UsesOAuth2());
  EXPECT_EQ(config.graph.folders[emailaccess::Folder::NeedsReading], "Needs reading");
}

// Exchange Online's 30 a minute holds on this road too, unless the settings
// pace the account themselves.
TEST(GraphSettings, AMailingKeepsToMicrosoft365sPaceUnlessTheSettingsSayOtherwise) {
  const std::pair<const char*, std::array<int, 2>> cases[] = {  // messages a minute, day cap
      {"", {30, 10000}},
      {"[smtp]\npace = unpaced\n", {0, 0}},
      {"[smtp]\ndaily_limit = 500\n", {30, 500}},
  };
  for (const auto& [extra, expected] : cases) {
    const auto config = ParseConfig(std::string(kGraph) + kSignIn + extra, "/opt/lv/", "x.conf",
                                    [](const std::string&) { return std::optional<std::string>(); });
    EXPECT_EQ((std::array<int, 2>{config.smtp.pace.messages, config.smtp.pace.perDay}), expected) << extra;
  }
}

TEST(GraphSettings, MistakesAreRefused) {
  const std::pair<std::string, const char*> cases[] = {
      {kGraph, "transport = graph signs in with OAuth 2.0"},
      {std::string(kGraph) + "[oauth2]\nprovider = google\nclient_id = a\nclient_secret = b\n",
       "transport = graph needs [oauth2] provider = microsoft"},
      {std::string(kGraph) + kSignIn + "[graph]\nurl = http://127.0.0.1:8080/v1.0\n", "[graph] url must start with https://"},
      {std::string(kGraph) + kSignIn + "[graph]\nurl = not a url\n", "[graph] url is not a URL"},
      {std::string(kGraph) + kSignIn + "[graph]\nprocessed = Skipped\n", "must differ from one another"},
      {std::string(kGraph) + kSignIn + "[graph]\nskipped = inbox\n", "must differ from one another and from Inbox"},
      {std::string(kGraph) + kSignIn + "[graph]\nprocessed =\n", "processed must be a folder name"},
  };
  for (const auto& [text, message] : cases) {
    try {
      ParseConfig(text, "/opt/lv/", "x.conf", [](const std::string&) { return std::optional<std::string>(); });
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ConfigError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

TEST(GraphAnswers, RetryAfterIsTheLastAnswersOwn) {
  const std::pair<const char*, int> cases[] = {
      {"HTTP/1.1 429 Too Many Requests\r\nRetry-After: 7\r\n\r\n", 7},
      {"HTTP/1.1 503 Service Unavailable\r\nretry-after:  12 \r\n\r\n", 12},
      {"HTTP/1.1 429 Too Many Requests\r\nRetry-After: Wed, 21 Oct 2026 07:28:00 GMT\r\n\r\n", -1},
      {"HTTP/1.1 503 x\r\nRetry-After: 5\r\n\r\nHTTP/1.1 429 y\r\nContent-Length: 0\r\n\r\n", -1},
      {"HTTP/1.1 429 Too Many Requests\r\nRetry-After: -3\r\n\r\n", -1},
  };
  for (const auto& [headers, seconds] : cases) EXPECT_EQ(emailaccess::RetryAfterSeconds(headers), seconds) << headers;
}

TEST(GraphAnswers, ErrorsAreToldInGraphsOwnWords) {
  EXPECT_EQ(emailaccess::GraphErrorText(404, R"({"error":{"code":"ErrorItemNotFound","message":"Not found."}})"),
            "HTTP 404 ErrorItemNotFound: Not found.");
  EXPECT_EQ(emailaccess::GraphErrorText(502, "<html>bad gateway</html>"), "HTTP 502");
  EXPECT_EQ(emailaccess::GraphErrorText(400, R"({"error":"text"})"), "HTTP 400");
}

TEST(GraphAnswers, ListedMessagesGiveOnlyWhatIsSafeToUse) {
  using nlohmann::json;
  const auto report = emailaccess::ReadListedMessage(json::parse(R"({"id": "AAk=", "subject": "Undeliverable:\r\n x",
      "isRead": true, "receivedDateTime": "2026-10-02T09:15:00Z", "singleValueExtendedProperties": [
      {"id": "String 0x1a", "value": "REPORT.IPM.Note.NDR"}, {"id": "Integer 0x0E08", "value": "2048"}]})"));
  ASSERT_TRUE(report);
  EXPECT_EQ(report->id, "AAk=");
  EXPECT_EQ(report->subject, "Undeliverable:  x");
  EXPECT_TRUE(report->isRead);
  EXPECT_EQ(report->messageClass, "REPORT.IPM.Note.NDR");
  EXPECT_EQ(report->size, 2048);
  EXPECT_EQ(report->receivedNs, 1790932500LL * 1000000000);
  for (const char* item : {R"({"id": "a b"})", R"({"id": "a\nb"})", R"({"id": 7})", R"([1])", R"({"subject": "x"})"}) {
    EXPECT_FALSE(emailaccess::ReadListedMessage(json::parse(item))) << item;
  }
  const auto plain = emailaccess::ReadListedMessage(json::parse(
      R"({"id": "x", "singleValueExtendedProperties": [{"id": "Integer 0x0E08", "value": "-5"}, 3]})"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->size, -1);
  EXPECT_EQ(plain->messageClass, "");
}

TEST(GraphAnswers, BatchAnswersFindTheirRequestsByIndexInAnyOrder) {
  std::vector<emailaccess::BatchItem> items(3);
  std::vector<emailaccess::BatchItem*> pointers = {&items[0], &items[1], &items[2]};
  emailaccess::ReadBatchAnswers(nlohmann::json::parse(R"({"responses": [
      {"id": "2", "status": 429, "headers": {"Retry-After": "4"}},
      {"id": "0", "status": 201, "body": {"id": "moved"}},
      {"id": "7", "status": 200}, {"id": "1x", "status": 200}, {"status": 200}]})"),
                                 pointers);
  EXPECT_EQ(items[0].status, 201);
  EXPECT_EQ(items[0].answer["id"], "moved");
  EXPECT_EQ(items[1].status, 0) << "an answer Graph left out";
  EXPECT_EQ(items[2].status, 429);
  EXPECT_EQ(items[2].retryAfterSeconds, 4);
}

TEST(GraphAnswers, SearchPhrasesAndTimes) {
  EXPECT_EQ(emailaccess::GraphSearchPhrase("Corvane Survey"), "\"Corvane Survey\"");
  EXPECT_EQ(emailaccess::GraphSearchPhrase("say \"hi\""), std::nullopt);
  EXPECT_EQ(emailaccess::GraphSearchPhrase("a\\b"), std::nullopt);
  EXPECT_EQ(emailaccess::GraphTimeNs("2026-10-02T09:15:00Z"), 1790932500LL * 1000000000);
  EXPECT_EQ(emailaccess::GraphTimeNs("2026-10-02T09:15:00.5Z"), 1790932500LL * 1000000000 + 500000000);
  EXPECT_EQ(emailaccess::GraphTimeNs("yesterday"), 0);
  EXPECT_EQ(emailaccess::GraphTimeNs("1013-10-02T09:15:00Z"), 0) << "before 1970";
  EXPECT_EQ(emailaccess::GraphTimeNs("9013-10-02T09:15:00Z"), 0) << "beyond nanoseconds' reach";
}

TEST(GoalTaskCommand, OperandsAreTheGoalAWholePercentageAndTheComment) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"{G1}", "40", "On track"}, ""},
      {{"", "40", "x"}, "the goal identifier is empty"},
      {{"{G1}", "101", "x"}, "from 0 to 100, not '101'"},
      {{"{G1}", "40%", "x"}, "not '40%'"},
      {{"{G1}", "", "x"}, "not ''"},
      {{"{G1}", "40"}, "not 2 argument(s)"},
  };
  for (const auto& [operands, refusal] : cases) {
    std::string why;
    const auto status = emailaccess::ReadGoalStatus(operands, why);
    EXPECT_EQ(status.has_value(), !*refusal) << why;
    EXPECT_NE(why.find(refusal), std::string::npos) << why;
  }
}

TEST(GoalTaskCommand, TheUpdateIsAddedInTheBodysOwnForm) {
  struct Case {
    const char* content;
    bool html;
    const char* expected;
  };
  const Case cases[] = {
      {"Goal {G1}", false, "Goal {G1}\r\n40 % <ok> & on\r\nline"},
      {"<html><body><p>Goal {G1}</p></BODY></html>", true,
       "<html><body><p>Goal {G1}</p><br>40 % &lt;ok&gt; &amp; on<br>line</BODY></html>"},
      {"<p>Goal {G1}</p>", true, "<p>Goal {G1}</p><br>40 % &lt;ok&gt; &amp; on<br>line"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(emailaccess::WithAddedText(c.content, c.html, "\r\n40 % <ok> & on\r\nline"), c.expected);
  }
}

}  // namespace
