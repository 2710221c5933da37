// A copied install folder in which LvMAPI fetches replies through the real
// mail-access program on its embedded defaults (Maildir folders under Mail/),
// for tests that disturb a run (a lock, a broken database, a full disk, a
// kill) and then check that every reply ends up stored exactly once.
//
// The database is made from the project's schema. Replies are delivered into
// Mail/Inbox as a mail program would deliver them, each answering a message
// the mail-access program really sent to its sender (its Message-ID in
// In-Reply-To and References; the sent messages are then taken out of the
// outbox): survey reply k (k = 1, 2,
// ...) comes from person<k>@example.org and answers the three questions of
// one survey with "p<k> answer <q>"; goal status reply k comes from
// leader<k>@example.org and reports k * 10 percent on goal k. The survey (with
// its three questions), the strategy and the goals replied to are in the
// database; person<k> is on the survey's list once its reply is placed, and
// so is ann.lee@example.org; leader<k> is responsible for goal k. Nothing here
// asserts; the checks return what they found wrong, so a test can say when.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace testing_support {

class ReplyInstall {
 public:
  // Copies the install into `folder` and creates the database `database`
  // (a name relative to the install folder, as LvMAPI is given it), whose
  // folder must exist.
  explicit ReplyInstall(const std::string& folder, const std::string& database = "church.db");

  const std::string& bin() const { return m_bin; }
  const std::string& db() const { return m_db; }
  std::string Inbox() const { return m_bin + "/Mail/Inbox"; }

  // Delivers survey replies first + 1 .. first + count, each `padding` bytes
  // of the person's own text longer.
  void PlaceSurveyReplies(int count, int first = 0, std::size_t padding = 0);
  void PlaceGoalReplies(int count);
  // Puts `address` on the survey's list, as a person of its own.
  void AddToSurveyList(const std::string& address);
  // Delivers one survey reply from `from` with `body`, dated like the reply
  // delivered as `sameDateAs` (a copy of it, when its sender and body are
  // the same), or afresh when 0. Returns its delivery number.
  int PlaceSurveyReply(const std::string& from, const std::string& body, int sameDateAs = 0);
  // A survey reply's body: `answers` typed into the form of the survey (the
  // one in the database unless `surveyId` names another).
  static std::string SurveyBody(const std::vector<std::string>& answers, const std::string& surveyId = "");

  // The environment of a run: the statement trace goes to `trace` (none when
  // empty).
  static std::map<std::string, std::string> Environment(const std::string& trace);
  // LvMAPI <database> <command>, from another folder than the install folder.
  RunResult RunLvMAPI(const std::string& command, const std::string& trace = "") const;
  std::unique_ptr<ChildProcess> StartLvMAPI(const std::string& command, const std::string& trace) const;
  // LVEmailAccess --acknowledge: the replies of consumed exchange files go
  // to Mail/Processed.
  RunResult Acknowledge() const;

  std::string RunLog() const { return ReadFile(m_bin + "/LvMAPI.log"); }
  std::string DatabaseLog() const { return ReadFile(m_bin + "/LV_DB_Log.txt"); }
  std::string MailLog() const { return ReadFile(m_bin + "/LVEmailAccess.log"); }
  long Count(const std::string& table) const;

  // Messages in new/ and cur/ of a Maildir under Mail/ ("Inbox", ...).
  std::size_t Messages(const std::string& folder) const;
  // Exchange files (their partial forms, and hand-backs) left in the install
  // folder.
  std::vector<std::string> LeftoverExchangeFiles() const;

  // What differs from "survey replies 1..survey and goal status replies
  // 1..goal are each stored exactly once, whole": one text per problem.
  std::vector<std::string> StoredOnceProblems(int survey, int goal) const;
  // What differs from "whatever is stored is stored once and whole": a
  // reply stored twice, responses without their reply, a reply missing some
  // of its rows.
  std::vector<std::string> HalfStoredProblems() const;

 private:
  void AddSurveyRows();

  std::string m_bin;
  std::string m_database;
  std::string m_db;
  int m_delivered = 0;
};

// Sends one message to each address through the mail-access program
// installed in `bin` (on its defaults: into Mail/Outbox, from which the
// messages are then taken); returns each address's Message-ID, without
// brackets, for the replies to name.
std::map<std::string, std::string> SendTo(const std::string& bin, const std::vector<std::string>& addresses,
                                          const std::string& subject);

// Entries of the database error log (LV_DB_Log.txt text).
std::size_t DatabaseLogEntries(const std::string& logText);

}  // namespace testing_support
