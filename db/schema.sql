-- The main application's survey and strategic-planning tables, as LvMAPI
-- reads and writes them. Identifiers, texts and dates are TEXT; counts,
-- numbers and flags INTEGER.
PRAGMA foreign_keys = OFF;

CREATE TABLE Person (
  PersonID TEXT PRIMARY KEY, FirstName TEXT, MiddleName TEXT, LastName TEXT, Email TEXT,
  HomePhone TEXT, WorkPhone TEXT, OtherPhone TEXT, Addr1 TEXT, Addr2 TEXT, City TEXT, State TEXT, Zip TEXT);

CREATE TABLE Survey (
  SurveyID TEXT PRIMARY KEY, SurveyTitle TEXT, SurveyGreeting TEXT, SurveyInstructions TEXT);

CREATE TABLE SurveyQuestionType (QuestionType TEXT PRIMARY KEY, QuestionTypeDesc TEXT);

CREATE TABLE SurveyQuestion (
  SurveyQuestionID TEXT PRIMARY KEY, SurveyQuestionNumber INTEGER, SurveyQuestionType INTEGER,
  SurveyScaleMin INTEGER, SurveyScaleMax INTEGER, SurveyMultipleChoiceID TEXT, SurveyQuestion TEXT);

CREATE TABLE SurveyQuestionXRef (SurveyID TEXT, SurveyQuestionID TEXT);
CREATE TABLE SurveyPersonXRef (SurveyID TEXT, PersonId TEXT);
CREATE TABLE SurveyOtherEmail (SurveyOtherEmailID TEXT PRIMARY KEY, SurveyID TEXT, Email TEXT);

CREATE TABLE SurveyMultipleChoiceSet (MultipleChoiceSetID TEXT PRIMARY KEY, MultipleChoiceSetName TEXT);
CREATE TABLE SurveyMultipleChoiceXRef (MultipleChoiceSetID TEXT, AnswerID TEXT, AnswerNum INTEGER);
CREATE TABLE SurveyMultipleChoiceAnswer (AnswerID TEXT PRIMARY KEY, AnswerDesc TEXT);

CREATE TABLE SurveyReply (ReplyID TEXT PRIMARY KEY, SurveyID TEXT, ReplyEmail TEXT, ReplyDate TEXT);
CREATE TABLE SurveyResponse (
  ResponseID TEXT PRIMARY KEY, ReplyID TEXT, SurveyQuestionID TEXT, SurveyQuestionResponse TEXT);

CREATE TABLE Strategy (StrategyID TEXT PRIMARY KEY, StrategyTitle TEXT, StrategyDesc TEXT);
CREATE TABLE StrategyGoalXRef (StrategyID TEXT, GoalID TEXT);
CREATE TABLE SMARTGoal (
  GoalID TEXT PRIMARY KEY, GoalTitle TEXT, GoalDesc TEXT, SuccessDesc TEXT, DueDate TEXT, PersonId TEXT);
CREATE TABLE SMARTGoalPlanXref (GoalID TEXT, PlanID TEXT, PlanDesc TEXT);
CREATE TABLE SMARTGoalResourceXref (GoalID TEXT, ResourceID TEXT, Comment TEXT);
CREATE TABLE StrategicPlan (PlanID TEXT PRIMARY KEY, PlanName TEXT, PlanDesc TEXT);
CREATE TABLE Resource (
  ResourceID TEXT PRIMARY KEY, ResourceType INTEGER, ResourceName TEXT, Comment TEXT, ResourceEmail TEXT);

CREATE TABLE StrategyGoalStatusReply (ReplyID TEXT PRIMARY KEY, StrategyID TEXT, ReplyEmail TEXT, ReplyDate TEXT);
CREATE TABLE StrategyGoalStatusResponse (
  ResponseID TEXT PRIMARY KEY, ReplyID TEXT, GoalID TEXT, PercentComplete TEXT, Comment TEXT);

CREATE TABLE Vision (
  VisionID TEXT PRIMARY KEY, Title TEXT, VisionFromGod TEXT, PeopleDesc TEXT, EnvironmentDesc TEXT,
  UrgencyDesc TEXT, OpeningParagraph TEXT);
CREATE TABLE StrategyVisionXref (StrategyID TEXT, VisionID TEXT);
CREATE TABLE VisionFunctionalArea (FunctionalAreaID TEXT PRIMARY KEY, FunctionalAreaDesc TEXT);
CREATE TABLE VisionFunctionalAreaXRef (VisionID TEXT, FunctionalAreaID TEXT, Paragraph TEXT);

-- The main application may keep several rows of one number; the first wins.
CREATE TABLE Settings (SettingNum INTEGER, Descr TEXT, StrVal TEXT, BitVal INTEGER, IntVal INTEGER);

CREATE INDEX SurveyPersonXRefBySurvey ON SurveyPersonXRef (SurveyID);
CREATE INDEX SurveyQuestionXRefBySurvey ON SurveyQuestionXRef (SurveyID);
CREATE INDEX StrategyGoalXRefByStrategy ON StrategyGoalXRef (StrategyID);
CREATE INDEX SMARTGoalResourceXrefByGoal ON SMARTGoalResourceXref (GoalID);
CREATE INDEX SMARTGoalPlanXrefByGoal ON SMARTGoalPlanXref (GoalID);
