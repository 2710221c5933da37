#include "surveys/survey_queries.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>

#include "tarnbase/tarnbase.h"
#include "test_support.h"
#include "platform/environment.h"

using testing_support::ScratchDir;

namespace {

// A fresh database per test, the library pointed at it, and the statements it
// receives read back from its trace (read anew with every database path).
class SurveyQueries : public testing::Test {
 protected:
  void SetUp() override {
    testing_support::CreateDatabase(m_db);
    platform::SetEnvironmentValue("TARNBASE_TRACE", m_trace);
    SetDBPath(m_db.c_str());
  }
  void TearDown() override {
    TarnbaseClose();
    platform::RemoveEnvironmentValue("TARNBASE_TRACE");
  }
  void Exec(const std::string& sql) { testing_support::ExecSql(m_db, sql); }
  std::string Statements() const { return testing_support::ReadFile(m_trace); }

  ScratchDir m_dir;
  std::string m_db = m_dir.file("survey.db");
  std::string m_trace = m_dir.file("statements.txt");
  CDBConnection m_connection;
};

const std::string kMixedCaseId = "{5a5a0000-1111-4222-8333-944445555666}";

TEST_F(SurveyQueries, SendTheirExactTextsWithTheIdentifierUnchanged) {
  struct Case {
    const char* name;
    std::function<void(CDBConnection&)> run;
    std::string sql;
  } cases[] = {
      {"persons of a survey",
       [](CDBConnection& c) {
         CPersons persons;
         LVSAL_GetSurveyPersons(c, persons, kMixedCaseId);
       },
       "SELECT p.PersonID, p.FirstName, p.MiddleName, p.LastName, p.Email, p.HomePhone, p.WorkPhone, p.OtherPhone, "
       "p.Addr1, p.Addr2, p.City, p.State, p.Zip  FROM SurveyPersonXRef xref INNER JOIN Person p ON p.PersonID = "
       "xref.PersonId WHERE xref.SurveyID = '{5a5a0000-1111-4222-8333-944445555666}'"},
      {"other addresses",
       [](CDBConnection& c) {
         CSurveyOtherEmails others;
         LVSAL_GetSurveyOtherEmails(c, others, kMixedCaseId);
       },
       "SELECT SurveyOtherEmailID, SurveyID, Email  FROM SurveyOtherEmail WHERE SurveyID = "
       "'{5a5a0000-1111-4222-8333-944445555666}'"},
      {"questions",
       [](CDBConnection& c) {
         CSurveyQuestions questions;
         LVSAL_GetSurveyQuestions(c, questions, kMixedCaseId);
       },
       "SELECT q.SurveyQuestionID, q.SurveyQuestionNumber, q.SurveyQuestionType, q.SurveyScaleMin, "
       "q.SurveyScaleMax, q.SurveyMultipleChoiceID, q.SurveyQuestion  FROM Survey survey INNER JOIN "
       "SurveyQuestionXRef xref ON xref.SurveyID = survey.SurveyID INNER JOIN SurveyQuestion q ON "
       "q.SurveyQuestionID = xref.SurveyQuestionID WHERE survey.SurveyID = "
       "'{5a5a0000-1111-4222-8333-944445555666}' order by q.SurveyQuestionNumber ASC"},
      {"multiple-choice sets",
       [](CDBConnection& c) {
         std::vector<MultipleChoiceSet> sets;
         LVSAL_GetMultipleChoiceSets(c, sets);
       },
       "SELECT mcSet.MultipleChoiceSetID, mcSet.MultipleChoiceSetName, answer.AnswerID, answer.AnswerDesc, "
       "xref.AnswerNum FROM SurveyMultipleChoiceSet mcSet LEFT JOIN SurveyMultipleChoiceXRef xref ON "
       "xref.MultipleChoiceSetID = mcSet.MultipleChoiceSetID LEFT JOIN SurveyMultipleChoiceAnswer answer ON "
       "answer.AnswerID = xref.AnswerID ORDER BY mcSet.MultipleChoiceSetName, xref.AnswerNum ASC"},
      {"person by identifier, names ignored",
       [](CDBConnection& c) {
         CPersons persons;
         LVSAL_FindPersons(c, persons, "Ann", "Lee", "{3b9f1c2e-8a4d-4e61-9c0b-5d7e2f1a6b01}");
       },
       "SELECT PersonID, FirstName, MiddleName, LastName, Email, HomePhone, WorkPhone, OtherPhone, Addr1, Addr2, "
       "City, State, Zip  FROM Person WHERE PersonID = '{3b9f1c2e-8a4d-4e61-9c0b-5d7e2f1a6b01}'"},
  };
  for (const Case& c : cases) {
    const size_t before = Statements().size();
    c.run(m_connection);
    EXPECT_EQ(Statements().substr(before), c.sql + "\n") << c.name;
  }
}

TEST_F(SurveyQueries, IdentifiersWithQuotesCannotBreakOutOfTheirLiteral) {
  Exec("INSERT INTO Person VALUES ('P1','Ann','','Lee','a@x','','','','','','','','');"
       "INSERT INTO SurveyPersonXRef VALUES ('S1','P1');"
       "INSERT INTO SurveyOtherEmail VALUES ('E1','S1','e@x');");
  const std::string hostile = "x' OR '1'='1";
  CPersons persons;
  CSurveyOtherEmails others;
  CSurveyQuestions questions;
  EXPECT_NO_THROW(LVSAL_GetSurveyPersons(m_connection, persons, hostile));
  EXPECT_NO_THROW(LVSAL_GetSurveyOtherEmails(m_connection, others, hostile));
  EXPECT_NO_THROW(LVSAL_GetSurveyQuestions(m_connection, questions, hostile));
  EXPECT_NO_THROW(LVSAL_FindPersons(m_connection, persons, "", "", hostile));
  EXPECT_TRUE(persons.empty());
  EXPECT_TRUE(others.empty());
  const std::string sql = Statements();
  EXPECT_NE(sql.find("WHERE xref.SurveyID = 'x'' OR ''1''=''1'\n"), std::string::npos) << sql;
  EXPECT_NE(sql.find("WHERE SurveyID = 'x'' OR ''1''=''1'\n"), std::string::npos) << sql;
  EXPECT_NE(sql.find("WHERE survey.SurveyID = 'x'' OR ''1''=''1' order by"), std::string::npos) << sql;
  EXPECT_NE(sql.find("FROM Person WHERE PersonID = 'x'' OR ''1''=''1'\n"), std::string::npos) << sql;
}

TEST_F(SurveyQueries, PersonsOfASurveyAppendInDatabaseOrder) {
  Exec("INSERT INTO Person VALUES ('P1','Ann','','Lee','a@x','h1','w1','o1','a1','a2','c','st','z1'),"
       "('P2','Bob','J','Ray','b@x','','','','','','','',''), ('P3','Not','In','Survey','n@x','','','','','','','','');"
       "INSERT INTO SurveyPersonXRef VALUES ('S1','P2'), ('S1','P1'), ('S2','P3');");
  CPersons persons;
  EXPECT_TRUE(LVSAL_GetSurveyPersons(m_connection, persons, "S1"));
  ASSERT_EQ(persons.size(), 2u);
  EXPECT_EQ(persons[0]->GetPersonID(), "P2");
  EXPECT_EQ(persons[1]->Values(), (std::array<std::string, 13>{"P1", "Ann", "", "Lee", "a@x", "h1", "w1", "o1", "a1",
                                                                "a2", "c", "st", "z1"}));
  EXPECT_EQ(persons[1]->GetObjectState(), Clean);

  EXPECT_TRUE(LVSAL_GetSurveyPersons(m_connection, persons, "S1"));
  EXPECT_EQ(persons.size(), 4u) << "a second run appends";
  EXPECT_TRUE(LVSAL_GetSurveyPersons(m_connection, persons, "no such survey"));
  EXPECT_EQ(persons.size(), 4u);
}

TEST_F(SurveyQueries, OtherAddressesAppend) {
  Exec("INSERT INTO SurveyOtherEmail VALUES ('E1','S1','one@x'), ('E2','S2','two@x'), ('E3','S1','three@x');");
  CSurveyOtherEmails others;
  LVSAL_GetSurveyOtherEmails(m_connection, others, "S1");
  LVSAL_GetSurveyOtherEmails(m_connection, others, "S1");
  ASSERT_EQ(others.size(), 4u);
  EXPECT_EQ(others[0]->Values(), (std::array<std::string, 3>{"E1", "S1", "one@x"}));
  EXPECT_EQ(others[1]->GetEmail(), "three@x");
  EXPECT_EQ(others[2]->GetEmail(), "one@x");
}

TEST_F(SurveyQueries, QuestionsComeByNumberAsTextAndReplaceEarlierOnes) {
  Exec("INSERT INTO Survey VALUES ('S1','t','g','i'), ('S2','t2','g2','i2');"
       "INSERT INTO SurveyQuestion VALUES ('Q10',10,5,0,0,'','Ten'), ('Q2',2,3,1,7,'{M}','Two'),"
       " ('Q1',1,1,0,0,'','One'), ('QX',1,1,0,0,'','Other survey');"
       "INSERT INTO SurveyQuestionXRef VALUES ('S1','Q10'), ('S1','Q2'), ('S1','Q1'), ('S2','QX');");
  CSurveyQuestions questions;
  LVSAL_GetSurveyQuestions(m_connection, questions, "S2");
  LVSAL_GetSurveyQuestions(m_connection, questions, "S1");
  ASSERT_EQ(questions.size(), 3u) << "the earlier result is cleared";
  EXPECT_EQ(questions[0]->GetSurveyQuestionID(), "Q1");
  EXPECT_EQ(questions[1]->Values(), (std::array<std::string, 7>{"Q2", "2", "3", "1", "7", "{M}", "Two"}));
  EXPECT_EQ(questions[2]->GetSurveyQuestionNumber(), "10") << "an integer column sorts 10 after 2";
}

void ExpectSet(const MultipleChoiceSet& set, const std::string& id, const std::string& name,
               const std::vector<MultipleChoiceAnswer>& answers) {
  EXPECT_EQ(set.MultipleChoiceSetID, id);
  EXPECT_EQ(set.MultipleChoiceSetName, name);
  ASSERT_EQ(set.Answers.size(), answers.size()) << id;
  for (size_t i = 0; i < answers.size(); ++i) {
    EXPECT_EQ(set.Answers[i].AnswerID, answers[i].AnswerID) << id << i;
    EXPECT_EQ(set.Answers[i].AnswerDesc, answers[i].AnswerDesc) << id << i;
    EXPECT_EQ(set.Answers[i].AnswerNum, answers[i].AnswerNum) << id << i;
  }
}

TEST_F(SurveyQueries, MultipleChoiceRowsGroupBySetAndASetWithoutAnswersGetsAnEmptyOne) {
  Exec("INSERT INTO SurveyMultipleChoiceSet VALUES ('S1','Colors'), ('S2','Sizes');"
       "INSERT INTO SurveyMultipleChoiceAnswer VALUES ('a1','Red'), ('a2','Blue');"
       "INSERT INTO SurveyMultipleChoiceXRef VALUES ('S1','a2',2), ('S1','a1',1);");
  std::vector<MultipleChoiceSet> sets = {{"old", "kept", {}}};
  LVSAL_GetMultipleChoiceSets(m_connection, sets);
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0].MultipleChoiceSetID, "old") << "appends";
  ExpectSet(sets[1], "S1", "Colors", {{"a1", "Red", 1}, {"a2", "Blue", 2}});
  ExpectSet(sets[2], "S2", "Sizes", {{"", "", 0}});
}

TEST_F(SurveyQueries, SetsSharingANameAreSplitAtEveryChangeOfIdentifier) {
  Exec("INSERT INTO SurveyMultipleChoiceSet VALUES ('A','Same'), ('B','Same');"
       "INSERT INTO SurveyMultipleChoiceAnswer VALUES ('a1','A one'), ('a2','A two'), ('b1','B one');"
       "INSERT INTO SurveyMultipleChoiceXRef VALUES ('A','a1',1), ('A','a2',3), ('B','b1',2);");
  std::vector<MultipleChoiceSet> sets;
  LVSAL_GetMultipleChoiceSets(m_connection, sets);
  ASSERT_EQ(sets.size(), 3u);
  ExpectSet(sets[0], "A", "Same", {{"a1", "A one", 1}});
  ExpectSet(sets[1], "B", "Same", {{"b1", "B one", 2}});
  ExpectSet(sets[2], "A", "Same", {{"a2", "A two", 3}});
}

TEST_F(SurveyQueries, NoMultipleChoiceSetsLeaveTheListAlone) {
  std::vector<MultipleChoiceSet> sets;
  LVSAL_GetMultipleChoiceSets(m_connection, sets);
  EXPECT_TRUE(sets.empty());
}

const char kHead[] =
    "SELECT PersonID, FirstName, MiddleName, LastName, Email, HomePhone, WorkPhone, OtherPhone, Addr1, Addr2, City, "
    "State, Zip  FROM Person ";

TEST_F(SurveyQueries, PersonSearchBuildsItsWhereClauseAndFallsBackOnlyForALoneLastName) {
  Exec("INSERT INTO Person VALUES ('P1','Ann','','Lee','a@x','','','','','','','',''),"
       "('P2','Smithers','','Jones','s@x','','','','','','','',''),"
       "('P3','Mary','','O''Neil','m@x','','','','','','','',''),"
       "('P4','O''Neil','','Brown','o@x','','','','','','','','');");
  struct Case {
    const char* name;
    const char* first;
    const char* last;
    const char* id;
    std::string statements;
    std::vector<std::string> found;
  } cases[] = {
      {"both names", "An", "Le", "", std::string(kHead) + " WHERE (FirstName like 'An%') AND ( LastName like 'Le%')\n",
       {"P1"}},
      {"first name with a quote", "O'Neil", "", "", std::string(kHead) + " WHERE (FirstName like 'O''Neil%')\n",
       {"P4"}},
      {"last name found, no fallback", "", "O'N", "", std::string(kHead) + " WHERE LastName like 'O''N%'\n", {"P3"}},
      {"last name tried as first name", "", "Smith",
       "", std::string(kHead) + " WHERE LastName like 'Smith%'\n" + kHead + " WHERE FirstName like 'Smith%'\n",
       {"P2"}},
      {"first name not found: no fallback", "Zed", "", "", std::string(kHead) + " WHERE (FirstName like 'Zed%')\n",
       {}},
      {"both names not found: no fallback", "Zed", "Smith", "",
       std::string(kHead) + " WHERE (FirstName like 'Zed%') AND ( LastName like 'Smith%')\n", {}},
      {"identifier not found: no fallback", "", "Smith", "P9", std::string(kHead) + "WHERE PersonID = 'P9'\n", {}},
      {"nothing given: everybody", "", "", "", std::string(kHead) + "\n", {"P1", "P2", "P3", "P4"}},
  };
  for (const Case& c : cases) {
    const size_t before = Statements().size();
    CPersons persons;
    EXPECT_TRUE(LVSAL_FindPersons(m_connection, persons, c.first, c.last, c.id));
    EXPECT_EQ(Statements().substr(before), c.statements) << c.name;
    std::vector<std::string> ids;
    for (const CPerson* p : persons) ids.push_back(p->GetPersonID());
    EXPECT_EQ(ids, c.found) << c.name;
  }
}

TEST_F(SurveyQueries, PersonSearchOnAnEmptyTableFallsBackWithAnEmptyPattern) {
  CPersons persons;
  EXPECT_TRUE(LVSAL_FindPersons(m_connection, persons, "", "", ""));
  EXPECT_EQ(Statements(), std::string(kHead) + "\n" + kHead + " WHERE FirstName like '%'\n");
  EXPECT_TRUE(persons.empty());
}

TEST_F(SurveyQueries, DatabaseFailureLeavesByExceptionAndKeepsWhatWasLoaded) {
  Exec("INSERT INTO SurveyOtherEmail VALUES ('E1','S1','one@x');");
  CSurveyOtherEmails others;
  LVSAL_GetSurveyOtherEmails(m_connection, others, "S1");
  ASSERT_EQ(others.size(), 1u);
  Exec("DROP TABLE SurveyOtherEmail;");
  EXPECT_THROW(LVSAL_GetSurveyOtherEmails(m_connection, others, "S1"), std::exception);
  ASSERT_EQ(others.size(), 1u);
  EXPECT_EQ(others[0]->GetEmail(), "one@x");
}

}  // namespace
