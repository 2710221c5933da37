#include "reply_install.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "reply_messages.h"

namespace fs = std::filesystem;

namespace testing_support {
namespace {

const char kSurvey[] = "{5E1F0A20-7C3D-4B8E-9F10-2A3B4C5D6E7F}";
const char kStrategy[] = "{8A7B6C5D-4E3F-4A1B-8C2D-3E4F5A6B7C8D}";
const int kQuestions = 3;

std::string Question(int q) { return "{C0A80001-5E11-4D2A-9F3B-00000000000" + std::to_string(q) + "}"; }
std::string Goal(int k) { return "{60A10000-0000-4000-8000-0000000000" + std::string(k < 10 ? "0" : "") + std::to_string(k) + "}"; }
std::string Answer(int k, int q) { return "p" + std::to_string(k) + " answer " + std::to_string(q); }
std::string Person(int k) { return "person" + std::to_string(k) + "@example.org"; }
std::string Leader(int k) { return "leader" + std::to_string(k) + "@example.org"; }

// A plain-text reply as a mail program writes it, 7-bit, CR LF line ends,
// answering the message `answered` (its Message-ID, without brackets).
std::string Mail(const std::string& from, const std::string& subject, int serial, const std::string& body,
                 const std::string& answered) {
  char date[64];
  std::snprintf(date, sizeof date, "Tue, 02 Mar 2027 %02d:%02d:%02d +0000", 8 + serial / 3600, serial / 60 % 60,
                serial % 60);
  return "From: " + from + "\r\nTo: LvMAPI <lvmapi@localhost>\r\nSubject: " + subject + "\r\nDate: " + date +
         "\r\nMessage-ID: <reply" + std::to_string(serial) + "@example.org>\r\nIn-Reply-To: <" + answered +
         ">\r\nReferences: <" + answered + ">\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + body;
}

// The value of the header field `name` in a message this program composed.
std::string FieldOf(const std::string& message, const std::string& name) {
  const size_t at = message.find("\n" + name + ": ");
  if (at == std::string::npos) return "";
  const size_t start = at + name.size() + 3;
  std::string value = message.substr(start, message.find('\n', start) - start);
  if (!value.empty() && value.back() == '\r') value.pop_back();
  if (const size_t open = value.rfind('<'); open != std::string::npos) {
    value = value.substr(open + 1, value.find('>', open) - open - 1);
  }
  return value;
}

// Names in delivery order, so that messages of the same arrival time are
// still taken in that order.
std::string MessageName(int serial) {
  char name[32];
  std::snprintf(name, sizeof name, "reply%05d", serial);
  return name;
}

std::vector<std::vector<std::string>> Rows(const std::string& db, const std::string& sql) { return QueryRows(db, sql); }

void Expect(std::vector<std::string>& problems, bool holds, const std::string& what) {
  if (!holds) problems.push_back(what);
}

}  // namespace

ReplyInstall::ReplyInstall(const std::string& folder, const std::string& database)
    : m_bin(folder), m_database(database), m_db(folder + "/" + database) {
  CopyInstall(m_bin);
  CreateDatabase(m_db);
  // The replies answer a survey and a strategy that are in the database.
  ExecSql(m_db, std::string("INSERT INTO Survey VALUES ('") + kSurvey + "', 'Fault drill', '', '');"
                "INSERT INTO Strategy VALUES ('" + kStrategy + "', 'Fault drill', '');");
}

// The survey's questions, and ann.lee@example.org on its list, once a reply
// to it is placed (and not before: a test may add other rows of its own).
void ReplyInstall::AddSurveyRows() {
  for (int q = 1; q <= kQuestions; ++q) {
    ExecSql(m_db, "INSERT OR IGNORE INTO SurveyQuestion (SurveyQuestionID, SurveyQuestionNumber) VALUES ('" +
                      Question(q) + "', " + std::to_string(q) + "); INSERT INTO SurveyQuestionXRef SELECT '" +
                      kSurvey + "', '" + Question(q) + "' WHERE NOT EXISTS (SELECT 1 FROM SurveyQuestionXRef WHERE "
                      "SurveyQuestionID = '" + Question(q) + "' AND SurveyID = '" + kSurvey + "');");
  }
  AddToSurveyList("ann.lee@example.org");
}

void ReplyInstall::AddToSurveyList(const std::string& address) {
  ExecSql(m_db, "INSERT OR IGNORE INTO Person (PersonID, Email) VALUES ('" + address + "', '" + address +
                    "'); INSERT INTO SurveyPersonXRef SELECT '" + kSurvey + "', '" + address +
                    "' WHERE NOT EXISTS (SELECT 1 FROM SurveyPersonXRef WHERE PersonId = '" + address + "');");
}

std::map<std::string, std::string> SendTo(const std::string& bin, const std::vector<std::string>& addresses,
                                          const std::string& subject) {
  const std::string outgoing = bin + "/sending.tmp";
  // A mailing of its own each time: one mailing never reaches an address twice.
  static int mailings = 0;
  std::string text = "<Mailing>test sending " + std::to_string(++mailings) + "</Mailing>\n";
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    text += "<Recipient" + n + ">Member " + n + "</Recipient" + n + "><Email" + n + ">" + addresses[i] + "</Email" + n +
            ">\n";
  }
  WriteFile(outgoing, text + "<Body>Please answer.</Body>");
  const RunResult sent = Run(bin + "/LVEmailAccess", {"2", outgoing, subject, "0"});
  fs::remove(outgoing);
  if (sent.exitCode != 0) throw std::runtime_error("sending to the repliers failed: " + sent.err);
  std::map<std::string, std::string> ids;
  const std::string outbox = bin + "/Mail/Outbox/new";
  for (const std::string& name : ListFolder(outbox)) {
    const std::string message = "\n" + ReadFile(outbox + "/" + name);
    ids[FieldOf(message, "To")] = FieldOf(message, "Message-ID");
    fs::remove(outbox + "/" + name);  // gone out, as far as these tests are concerned
  }
  return ids;
}

void ReplyInstall::PlaceSurveyReplies(int count, int first, std::size_t padding) {
  std::vector<std::string> questions;
  for (int q = 1; q <= kQuestions; ++q) questions.push_back(Question(q));
  AddSurveyRows();
  std::vector<std::string> people;
  for (int k = first + 1; k <= first + count; ++k) people.push_back(Person(k));
  const std::map<std::string, std::string> sent = SendTo(m_bin, people, "Corvane Survey - Fault drill");
  for (int k = first + 1; k <= first + count; ++k) {
    AddToSurveyList(Person(k));
    std::vector<SurveyAnswer> answers;
    for (int q = 1; q <= kQuestions; ++q) answers.push_back({q, Answer(k, q)});
    std::string body = SurveyReplyBody(kSurvey, questions, answers);
    // Lines of the person's own text before the answers.
    for (std::size_t line = 0; line * 70 < padding; ++line) body = std::string(68, 'x') + "\r\n" + body;
    ++m_delivered;
    DeliverToMaildir(Inbox(), MessageName(m_delivered),
                     Mail(Person(k), "Re: Corvane Survey - Fault drill", m_delivered, body, sent.at(Person(k))));
  }
}

int ReplyInstall::PlaceSurveyReply(const std::string& from, const std::string& body, int sameDateAs) {
  AddSurveyRows();
  const std::map<std::string, std::string> sent = SendTo(m_bin, {from}, "Corvane Survey - Fault drill");
  ++m_delivered;
  DeliverToMaildir(Inbox(), MessageName(m_delivered),
                   Mail(from, "Re: Corvane Survey - Fault drill", sameDateAs ? sameDateAs : m_delivered, body,
                        sent.count(from) ? sent.at(from) : "nothing.sent@localhost"));
  return m_delivered;
}

std::string ReplyInstall::SurveyBody(const std::vector<std::string>& answers, const std::string& surveyId) {
  std::vector<std::string> questions;
  for (int q = 1; q <= kQuestions; ++q) questions.push_back(Question(q));
  std::vector<SurveyAnswer> typed;
  for (std::size_t q = 0; q < answers.size(); ++q) typed.push_back({static_cast<int>(q) + 1, answers[q]});
  return SurveyReplyBody(surveyId.empty() ? kSurvey : surveyId, questions, typed);
}

void ReplyInstall::PlaceGoalReplies(int count) {
  std::vector<std::string> leaders;
  for (int k = 1; k <= count; ++k) leaders.push_back(Leader(k));
  const std::map<std::string, std::string> sent = SendTo(m_bin, leaders, "Corvane Strategy - Goal Notification");
  for (int k = 1; k <= count; ++k) {
    ExecSql(m_db, "INSERT OR IGNORE INTO SMARTGoal VALUES ('" + Goal(k) + "', 'Goal', '', '', '', '" + Leader(k) +
                      "'); INSERT OR IGNORE INTO Person (PersonID, Email) VALUES ('" + Leader(k) + "', '" + Leader(k) +
                      "'); INSERT INTO StrategyGoalXRef VALUES ('" + kStrategy + "', '" + Goal(k) + "');");
    ++m_delivered;
    DeliverToMaildir(Inbox(), MessageName(m_delivered),
                     Mail(Leader(k), "Re: Corvane Strategy - Goal Notification", m_delivered,
                          GoalReplyBody(kStrategy, Goal(k), std::to_string(k * 10), "goal " + std::to_string(k)),
                          sent.at(Leader(k))));
  }
}

std::map<std::string, std::string> ReplyInstall::Environment(const std::string& trace) {
  std::map<std::string, std::string> env;
  if (!trace.empty()) env["TARNBASE_TRACE"] = trace;
  return env;
}

RunResult ReplyInstall::RunLvMAPI(const std::string& command, const std::string& trace) const {
  return Run(m_bin + "/LvMAPI", {m_database, command}, Environment(trace), fs::path(m_bin).parent_path().string());
}

std::unique_ptr<ChildProcess> ReplyInstall::StartLvMAPI(const std::string& command, const std::string& trace) const {
  return std::make_unique<ChildProcess>(m_bin + "/LvMAPI", std::vector<std::string>{m_database, command},
                                        Environment(trace), fs::path(m_bin).parent_path().string());
}

RunResult ReplyInstall::Acknowledge() const { return Run(m_bin + "/LVEmailAccess", {"--acknowledge"}); }

long ReplyInstall::Count(const std::string& table) const {
  return std::stol(Rows(m_db, "SELECT COUNT(*) FROM " + table)[0][0]);
}

std::size_t ReplyInstall::Messages(const std::string& folder) const {
  return ListFolder(m_bin + "/Mail/" + folder + "/new").size() + ListFolder(m_bin + "/Mail/" + folder + "/cur").size();
}

std::vector<std::string> ReplyInstall::LeftoverExchangeFiles() const {
  std::vector<std::string> left;
  for (const std::string& name : ListFolder(m_bin)) {
    if (name.ends_with(".tmp") || name.ends_with(".part") || name.ends_with(".handback")) left.push_back(name);
  }
  return left;
}

std::vector<std::string> ReplyInstall::HalfStoredProblems() const {
  std::vector<std::string> problems;
  for (const char* table : {"SurveyReply", "StrategyGoalStatusReply"}) {
    for (const auto& row : Rows(m_db, std::string("SELECT ReplyEmail, COUNT(*) FROM ") + table +
                                          " GROUP BY ReplyEmail HAVING COUNT(*) > 1")) {
      problems.push_back(std::string(table) + ": the reply of " + row[0] + " is stored " + row[1] + " times");
    }
  }
  for (const auto& row : Rows(m_db, "SELECT COUNT(*) FROM SurveyResponse WHERE ReplyID NOT IN "
                                    "(SELECT ReplyID FROM SurveyReply)")) {
    Expect(problems, row[0] == "0", row[0] + " survey responses without their reply row");
  }
  for (const auto& row : Rows(m_db, "SELECT r.ReplyEmail, COUNT(s.ResponseID) FROM SurveyReply r LEFT JOIN "
                                    "SurveyResponse s ON s.ReplyID = r.ReplyID GROUP BY r.ReplyID HAVING COUNT(s.ResponseID) <> " +
                                        std::to_string(kQuestions))) {
    problems.push_back("the reply of " + row[0] + " has " + row[1] + " responses");
  }
  for (const auto& row : Rows(m_db, "SELECT r.ReplyEmail, COUNT(s.ResponseID) FROM StrategyGoalStatusReply r LEFT JOIN "
                                    "StrategyGoalStatusResponse s ON s.ReplyID = r.ReplyID GROUP BY r.ReplyID "
                                    "HAVING COUNT(s.ResponseID) <> 1")) {
    problems.push_back("the goal status reply of " + row[0] + " has " + row[1] + " responses");
  }
  for (const auto& row : Rows(m_db, "SELECT COUNT(*) FROM StrategyGoalStatusResponse WHERE ReplyID NOT IN "
                                    "(SELECT ReplyID FROM StrategyGoalStatusReply)")) {
    Expect(problems, row[0] == "0", row[0] + " goal status responses without their reply row");
  }
  return problems;
}

std::vector<std::string> ReplyInstall::StoredOnceProblems(int survey, int goal) const {
  std::vector<std::string> problems = HalfStoredProblems();
  using RowSet = std::set<std::vector<std::string>>;
  // Each reply row once, and its answers exactly as given.
  auto check = [&](const char* table, int replies, const RowSet& expected, const char* query, const char* what) {
    RowSet stored;
    for (auto& row : Rows(m_db, query)) stored.insert(row);
    Expect(problems, Count(table) == replies,
           std::to_string(Count(table)) + " " + what + " reply rows, not " + std::to_string(replies));
    Expect(problems, stored == expected, std::string("the stored ") + what + " answers are not the answers given");
  };

  RowSet answers, statuses;
  for (int k = 1; k <= survey; ++k) {
    for (int q = 1; q <= kQuestions; ++q) answers.insert({Person(k), kSurvey, Question(q), Answer(k, q)});
  }
  for (int k = 1; k <= goal; ++k) {
    statuses.insert({Leader(k), kStrategy, Goal(k), std::to_string(k * 10), "goal " + std::to_string(k)});
  }
  check("SurveyReply", survey, answers,
        "SELECT r.ReplyEmail, r.SurveyID, s.SurveyQuestionID, s.SurveyQuestionResponse "
        "FROM SurveyReply r JOIN SurveyResponse s ON s.ReplyID = r.ReplyID",
        "survey");
  check("StrategyGoalStatusReply", goal, statuses,
        "SELECT r.ReplyEmail, r.StrategyID, s.GoalID, s.PercentComplete, s.Comment "
        "FROM StrategyGoalStatusReply r JOIN StrategyGoalStatusResponse s ON s.ReplyID = r.ReplyID",
        "goal status");
  return problems;
}

std::size_t DatabaseLogEntries(const std::string& logText) {
  // Every entry opens with two line breaks and the rule, then two more line
  // breaks before its time stamp.
  const std::string opening = "\r\n\r\n================================================================\r\n\r\n\r\n";
  std::size_t entries = 0;
  for (std::size_t at = logText.find(opening); at != std::string::npos; at = logText.find(opening, at + 1)) ++entries;
  return entries;
}

}  // namespace testing_support
