#include "bizobjects/bizobjects.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// The catalogue's constructors: value constructors for all but the three
// default-only entities, both kinds for plans and resources.
static_assert(!std::is_default_constructible_v<CPerson>);
static_assert(!std::is_default_constructible_v<CSettings>);
static_assert(!std::is_default_constructible_v<CSurveyQuestion>);
static_assert(std::is_default_constructible_v<CStrategicPlan>);
static_assert(std::is_default_constructible_v<CResource>);
static_assert(std::is_default_constructible_v<CStrategy>);
static_assert(std::is_constructible_v<CStrategicPlan, std::string, std::string, std::string>);
static_assert(!std::is_constructible_v<CStrategy, std::string, std::string, std::string>);
static_assert(!std::is_constructible_v<CSMARTGoalPlanXref, std::string, std::string, std::string>);
static_assert(!std::is_constructible_v<CSurvey, std::string, std::string, std::string>);
static_assert(std::is_base_of_v<CBizObjectCollection<CSurveyReply*>, CSurveyReplys>);
static_assert(std::is_base_of_v<CBizObjectCollection<CSettings*>, CSettingss>);
static_assert(std::is_base_of_v<CLVCore, CSMARTGoal>);
static_assert(std::is_base_of_v<CLVCore, CPersons>);
static_assert(Unset == 0 && Clean == 5 && New == 10 && Modified == 15 && Deleted == 20);
static_assert(sizeof(ElementState) == 4);

std::vector<std::string> Numbered(std::size_t count) {
  std::vector<std::string> values;
  for (std::size_t i = 0; i < count; ++i) values.push_back("c" + std::to_string(i));
  return values;
}

// One row per entity: its getters called by name, which must return the
// value-constructor arguments in column order ("c0", "c1", ...).
TEST(Entities, GettersReturnTheValueConstructorArgumentsInColumnOrder) {
  const CPerson person("c0", "c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c9", "c10", "c11", "c12");
  const CSurvey survey("c0", "c1", "c2", "c3");
  const CSurveyOtherEmail other("c0", "c1", "c2");
  const CSurveyQuestion question("c0", "c1", "c2", "c3", "c4", "c5", "c6");
  const CSurveyQuestionType type("c0", "c1");
  const CSurveyReply reply("c0", "c1", "c2", "c3");
  const CSurveyResponse response("c0", "c1", "c2", "c3");
  const CVision vision("c0", "c1", "c2", "c3", "c4", "c5", "c6");
  const CSMARTGoal goal("c0", "c1", "c2", "c3", "c4", "c5");
  const CStrategicPlan plan("c0", "c1", "c2");
  const CStrategyGoalStatusReply statusReply("c0", "c1", "c2", "c3");
  const CStrategyGoalStatusResponse statusResponse("c0", "c1", "c2", "c3", "c4");
  const CStrategyVisionXref link("c0", "c1");
  const CResource resource("c0", "c1", "c2", "c3", "c4");
  const CSettings settings("c0", "c1", "c2", "c3", "c4");

  const std::vector<std::vector<std::string>> rows = {
      {person.GetPersonID(), person.GetFirstName(), person.GetMiddleName(), person.GetLastName(), person.GetEmail(),
       person.GetHomePhone(), person.GetWorkPhone(), person.GetOtherPhone(), person.GetAddr1(), person.GetAddr2(),
       person.GetCity(), person.GetState(), person.GetZip()},
      {survey.GetSurveyID(), survey.GetSurveyTitle(), survey.GetSurveyGreeting(), survey.GetSurveyInstructions()},
      {other.GetSurveyOtherEmailID(), other.GetSurveyID(), other.GetEmail()},
      {question.GetSurveyQuestionID(), question.GetSurveyQuestionNumber(), question.GetSurveyQuestionType(),
       question.GetSurveyScaleMin(), question.GetSurveyScaleMax(), question.GetSurveyMultipleChoiceID(),
       question.GetSurveyQuestion()},
      {type.GetQuestionType(), type.GetQuestionTypeDesc()},
      {reply.GetReplyID(), reply.GetSurveyID(), reply.GetReplyEmail(), reply.GetReplyDate()},
      {response.GetResponseID(), response.GetReplyID(), response.GetSurveyQuestionID(),
       response.GetSurveyQuestionResponse()},
      {vision.GetVisionID(), vision.GetTitle(), vision.GetVisionFromGod(), vision.GetPeopleDesc(),
       vision.GetEnvironmentDesc(), vision.GetUrgencyDesc(), vision.GetOpeningParagraph()},
      {goal.GetGoalID(), goal.GetGoalTitle(), goal.GetGoalDesc(), goal.GetSuccessDesc(), goal.GetDueDate(),
       goal.GetPersonId()},
      {plan.GetPlanID(), plan.GetPlanName(), plan.GetPlanDesc()},
      {statusReply.GetReplyID(), statusReply.GetStrategyID(), statusReply.GetReplyEmail(), statusReply.GetReplyDate()},
      {statusResponse.GetResponseID(), statusResponse.GetReplyID(), statusResponse.GetGoalID(),
       statusResponse.GetPercentComplete(), statusResponse.GetComment()},
      {link.GetStrategyID(), link.GetVisionID()},
      {resource.GetResourceID(), resource.GetResourceType(), resource.GetResourceName(), resource.GetComment(),
       resource.GetResourceEmail()},
      {settings.GetSettingNum(), settings.GetDescr(), settings.GetStrVal(), settings.GetBitVal(), settings.GetIntVal()},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], Numbered(rows[i].size())) << "entity row " << i;
}

TEST(Entities, ConstructorsLeaveTheStateUnsetAndDefaultConstructedFieldsEmpty) {
  EXPECT_EQ(CSettings("6", "", "", "1", "0").GetObjectState(), Unset);
  const CStrategy strategy;
  const CSMARTGoalPlanXref planLink;
  const CSMARTGoalResourceXref resourceLink;
  const CResource resource;
  const CStrategicPlan plan;
  EXPECT_EQ(strategy.GetObjectState(), Unset);
  EXPECT_EQ(resource.GetObjectState(), Unset);
  const std::vector<std::string> all = {
      strategy.GetStrategyID(), strategy.GetStrategyTitle(), strategy.GetStrategyDesc(),
      planLink.GetGoalID(),     planLink.GetPlanID(),        planLink.GetPlanDesc(),
      resourceLink.GetGoalID(), resourceLink.GetResourceID(), resourceLink.GetComment(),
      resource.GetResourceID(), resource.GetResourceEmail(),  plan.GetPlanName()};
  for (const std::string& field : all) EXPECT_EQ(field, "");
}

TEST(Entities, SettersFillDefaultConstructedObjectsByName) {
  CStrategy strategy;
  strategy.SetStrategyID("{S}");
  strategy.SetStrategyTitle("Grow");
  strategy.SetStrategyDesc("More people");
  CSMARTGoalPlanXref planLink;
  planLink.SetGoalID("g");
  planLink.SetPlanID("p");
  planLink.SetPlanDesc("link text");
  CSMARTGoalResourceXref resourceLink;
  resourceLink.SetGoalID("g2");
  resourceLink.SetResourceID("r");
  resourceLink.SetComment("link comment");
  CResource resource;
  resource.SetResourceID("r");
  resource.SetResourceType("3");
  resource.SetResourceName("Van");
  resource.SetComment("own comment");
  CStrategicPlan plan;
  plan.SetPlanID("p");
  plan.SetPlanName("Plan");
  plan.SetPlanDesc("desc");

  EXPECT_EQ((std::vector<std::string>{strategy.GetStrategyID(), strategy.GetStrategyTitle(), strategy.GetStrategyDesc()}),
            (std::vector<std::string>{"{S}", "Grow", "More people"}));
  EXPECT_EQ((std::vector<std::string>{planLink.GetGoalID(), planLink.GetPlanID(), planLink.GetPlanDesc()}),
            (std::vector<std::string>{"g", "p", "link text"}));
  EXPECT_EQ((std::vector<std::string>{resourceLink.GetGoalID(), resourceLink.GetResourceID(),
                                      resourceLink.GetComment()}),
            (std::vector<std::string>{"g2", "r", "link comment"}));
  EXPECT_EQ((std::vector<std::string>{resource.GetResourceID(), resource.GetResourceType(), resource.GetResourceName(),
                                      resource.GetComment(), resource.GetResourceEmail()}),
            (std::vector<std::string>{"r", "3", "Van", "own comment", ""}));
  EXPECT_EQ((std::vector<std::string>{plan.GetPlanID(), plan.GetPlanName(), plan.GetPlanDesc()}),
            (std::vector<std::string>{"p", "Plan", "desc"}));
  for (const CBizObjectElement* e : std::vector<const CBizObjectElement*>{&strategy, &planLink, &resourceLink,
                                                                           &resource, &plan}) {
    EXPECT_EQ(e->GetObjectState(), Modified);
  }
}

struct SetterCase {
  const char* name;
  ElementState before;
  const char* stored;
  const char* given;
  ElementState after;
  const char* storedAfter;
};

TEST(Entities, SetterChangesTheStateOnlyWhenTheTextDiffers) {
  const SetterCase cases[] = {
      {"same text keeps Clean", Clean, "Van", "Van", Clean, "Van"},
      {"same text keeps Unset", Unset, "Van", "Van", Unset, "Van"},
      {"different text marks Clean Modified", Clean, "Van", "Bus", Modified, "Bus"},
      {"different text marks Unset Modified", Unset, "Van", "Bus", Modified, "Bus"},
      {"comparison is case-sensitive", Clean, "Van", "VAN", Modified, "VAN"},
      {"emptying a field is a change", Clean, "Van", "", Modified, ""},
      {"a new element stays New so it is still inserted", New, "Van", "Bus", New, "Bus"},
      {"a deleted element becomes Modified", Deleted, "Van", "Bus", Modified, "Bus"},
  };
  for (const SetterCase& c : cases) {
    CResource resource("r", "1", c.stored, "", "");
    resource.SetObjectState(c.before);
    EXPECT_TRUE(resource.SetResourceName(c.given)) << c.name;
    EXPECT_EQ(resource.GetObjectState(), c.after) << c.name;
    EXPECT_EQ(resource.GetResourceName(), c.storedAfter) << c.name;
    EXPECT_EQ(resource.GetResourceID(), "r") << c.name;
  }
}

// The texts of an element share one block: a setter that grows, shrinks or
// empties one column must leave every other column as it was, at either end
// and in the middle, for empty, long and NUL-holding texts alike, whether the
// element was value-constructed or read from a row (its texts behind it).
TEST(Entities, SettersChangeOnlyTheirOwnColumnOfTheSharedText) {
  const std::string longText(100000, 'x');
  const std::string withNul("a\0b", 3);
  using Setter = bool (CResource::*)(std::string);
  const struct {
    const char* name;
    Setter set;
    std::size_t column;
    std::string given;
  } cases[] = {
      {"first column emptied", &CResource::SetResourceID, 0, ""},
      {"first column grown long", &CResource::SetResourceID, 0, longText},
      {"middle column emptied", &CResource::SetResourceName, 2, ""},
      {"middle column grown long", &CResource::SetResourceName, 2, longText},
      {"middle column with a NUL", &CResource::SetResourceName, 2, withNul},
      {"last settable column shrunk", &CResource::SetComment, 3, "c"},
      {"last settable column grown long", &CResource::SetComment, 3, longText},
  };
  for (const auto& c : cases) {
    for (const bool fromRow : {false, true}) {
      std::array<std::string, 5> expected = {"{R1}", "7", "Minibus", "needs fuel", "r@x"};
      const std::array<std::string_view, 5> row = {expected[0], expected[1], expected[2], expected[3], expected[4]};
      std::unique_ptr<CResource> resource =
          fromRow ? CResource::FromRow<CResource>(row)
                  : std::make_unique<CResource>(expected[0], expected[1], expected[2], expected[3], expected[4]);
      // Twice: from the constructed texts, then from the texts just set.
      for (const std::string& value : {c.given, std::string("again ") + c.given}) {
        (resource.get()->*c.set)(value);
        expected[c.column] = value;
        EXPECT_EQ(resource->Values(), expected) << c.name << (fromRow ? ", from a row" : "");
        const std::array<std::string_view, 5> views = resource->Views();
        for (std::size_t i = 0; i < views.size(); ++i) EXPECT_EQ(views[i], resource->Value(i)) << c.name;
      }
    }
  }
}

TEST(Entities, RowsBuildTheSameElementAsTheValueConstructor) {
  const std::string longText(70000, 'y');
  // The ends of the texts are kept in 16 bits up to 65535 bytes in all.
  const std::array<std::array<std::string, 4>, 6> rows = {{
      {"", "", "", ""},
      {"{A}", "", "", "last"},
      {"", longText, "", ""},
      {std::string("n\0l", 3), "line\r\nbreak", longText, "x"},
      {std::string(65532, 'a'), "b", "c", "d"},
      {std::string(65533, 'a'), "b", "c", "d"},
  }};
  for (const auto& row : rows) {
    const std::array<std::string_view, 4> views = {row[0], row[1], row[2], row[3]};
    const CSurveyResponse fromRow{std::span<const std::string_view, 4>(views)};
    const CSurveyResponse fromValues(row[0], row[1], row[2], row[3]);
    // Read from the database: deleted through a base, as a collection does.
    std::unique_ptr<CLVCore> loaded(CSurveyResponse::FromRow<CSurveyResponse>(views).release());
    EXPECT_EQ(fromRow.Values(), row);
    EXPECT_EQ(fromValues.Values(), row);
    EXPECT_EQ(dynamic_cast<const CSurveyResponse&>(*loaded).Values(), row);
    EXPECT_EQ(fromRow.GetObjectState(), Unset);
  }
  const CSurveyResponse response("a", "b", "c", "d");
  EXPECT_THROW(response.Value(4), std::out_of_range);
}

// An element that says when it is destroyed, through its own trace text.
CPerson* Announcing(const std::string& id) {
  auto* person = new CPerson(id, "", "", "", "", "", "", "", "", "", "", "", "");
  person->Trace("destroyed " + id);
  return person;
}

TEST(Collections, StartEmptyWithRoomForTenAndGrowPastIt) {
  CaptureStdout();
  {
    CSurveyReplys replies;
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(replies.Count(), 0u);
    EXPECT_GE(replies.capacity(), 10u);
    for (int i = 0; i < 11; ++i) replies.add(new CSurveyReply(std::to_string(i), "s", "e", "d"));
    EXPECT_EQ(replies.size(), 11u);
    EXPECT_GE(replies.capacity(), 11u);
    EXPECT_EQ(replies.at(10)->GetReplyID(), "10");
  }
  GetCapturedStdout();
}

TEST(Collections, AddMarksNewAndLoadMarksCleanInInsertionOrder) {
  CaptureStdout();
  {
    CPersons persons;
    auto* loaded = new CPerson("1", "", "", "", "", "", "", "", "", "", "", "", "");
    loaded->SetObjectState(Modified);
    EXPECT_TRUE(persons.load(loaded));
    EXPECT_TRUE(persons.add(std::make_unique<CPerson>("2", "", "", "", "", "", "", "", "", "", "", "", "")));
    EXPECT_TRUE(persons.load(std::make_unique<CPerson>("3", "", "", "", "", "", "", "", "", "", "", "", "")));
    std::vector<std::string> ids;
    std::vector<ElementState> states;
    for (CPerson* person : persons) {
      ids.push_back(person->GetPersonID());
      states.push_back(person->GetObjectState());
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(states, (std::vector<ElementState>{Clean, New, Clean}));
    EXPECT_EQ(persons[0], loaded);
    EXPECT_EQ(persons.TraceText(),
              "CBizObjectCollection::load()CBizObjectCollection::add()CBizObjectCollection::load()");
  }
  GetCapturedStdout();
}

// Loading many rows at once behaves as loading them one by one: after what
// the collection held, in order, Clean, one trace entry each; a null among
// them is refused before anything changes.
TEST(Collections, LoadManyAtOnceAsOneByOne) {
  const struct {
    const char* name;
    int before;
    int rows;
    bool withNull;
  } cases[] = {
      {"into an empty collection", 0, 3, false},
      {"after elements it holds", 2, 3, false},
      {"more rows than its room", 0, 25, false},
      {"no rows", 1, 0, false},
      {"a null among the rows", 1, 2, true},
  };
  for (const auto& c : cases) {
    CaptureStdout();
    {
      CStrategyVisionXrefs links;
      std::vector<std::string> expected;
      for (int i = 0; i < c.before; ++i) {
        links.add(new CStrategyVisionXref("held", std::to_string(i)));
        expected.push_back("held" + std::to_string(i));
      }
      std::vector<std::unique_ptr<CStrategyVisionXref>> rows;
      for (int i = 0; i < c.rows; ++i) {
        rows.push_back(std::make_unique<CStrategyVisionXref>("row", std::to_string(i)));
        rows.back()->SetObjectState(Modified);
        if (!c.withNull) expected.push_back("row" + std::to_string(i));
      }
      if (c.withNull) rows.push_back(nullptr);
      const std::string traceBefore = links.TraceText();
      if (c.withNull) {
        EXPECT_THROW(links.load(std::move(rows)), std::invalid_argument) << c.name;
      } else {
        EXPECT_TRUE(links.load(std::move(rows))) << c.name;
      }
      std::vector<std::string> held;
      for (const CStrategyVisionXref* link : links) {
        held.push_back(link->GetStrategyID() + link->GetVisionID());
        EXPECT_EQ(link->GetObjectState(), link->GetStrategyID() == "row" ? Clean : New) << c.name;
      }
      EXPECT_EQ(held, expected) << c.name;
      std::string trace = traceBefore;
      for (int i = 0; i < (c.withNull ? 0 : c.rows); ++i) trace += "CBizObjectCollection::load()";
      EXPECT_EQ(links.TraceText(), trace) << c.name;
    }
    GetCapturedStdout();
  }
}

// Rows a table load hands over are read in place until an element is asked
// for; then they become elements, first, Clean, with the same texts, and the
// elements added after them keep their places and states.
TEST(Collections, BuildLoadedRowsOnlyWhenAnElementIsAskedFor) {
  enum class Ask { Iterate, Index, At };
  struct Case {
    const char* name;
    int held;  // elements before the rows
    Ask ask;
  } cases[] = {
      {"iterated", 0, Ask::Iterate}, {"indexed", 0, Ask::Index}, {"at", 0, Ask::At}, {"behind elements", 2, Ask::Iterate}};
  for (const auto& c : cases) {
    CaptureStdout();
    {
      CSurveyResponses responses;
      std::vector<std::string> expected;
      for (int i = 0; i < c.held; ++i) {
        responses.load(std::make_unique<CSurveyResponse>("held" + std::to_string(i), "r", "q", "a"));
        expected.push_back("held" + std::to_string(i) + "|r|q|a");
      }
      TextRows rows(CSurveyResponse::kColumnCount);
      for (int i = 0; i < 3; ++i) {
        const std::string key = "row" + std::to_string(i), answer(static_cast<std::size_t>(i), 'x');
        rows.Append(std::vector<std::string_view>{key, "r", "", answer});
        expected.push_back(key + "|r||" + answer);
      }
      EXPECT_THROW(responses.load(TextRows(2)), std::invalid_argument) << c.name;
      EXPECT_TRUE(responses.load(std::move(rows))) << c.name;
      responses.add(std::make_unique<CSurveyResponse>("added", "r", "q", "a"));
      expected.push_back("added|r|q|a");
      EXPECT_EQ(responses.RowsNotBuilt(), c.held == 0 ? 3u : 0u) << c.name;
      ASSERT_EQ(responses.size(), expected.size()) << c.name;
      const auto texts = [&](auto value) {
        std::vector<std::string> all;
        for (std::size_t i = 0; i < responses.size(); ++i) {
          std::string text;
          for (std::size_t col = 0; col < CSurveyResponse::kColumnCount; ++col) {
            text += (col ? "|" : "") + std::string(value(i, col));
          }
          all.push_back(text);
        }
        return all;
      };
      EXPECT_EQ(texts([&](std::size_t i, std::size_t col) { return responses.Value(i, col); }), expected) << c.name;
      EXPECT_THROW(responses.Value(0, CSurveyResponse::kColumnCount), std::out_of_range) << c.name;
      const CSurveyResponse* first = c.ask == Ask::Iterate ? *responses.begin()
                                     : c.ask == Ask::Index ? responses[0]
                                                           : responses.at(0);
      EXPECT_EQ(responses.RowsNotBuilt(), 0u) << c.name;
      EXPECT_EQ(first, responses[0]) << c.name;  // built once
      EXPECT_EQ(texts([&](std::size_t i, std::size_t col) { return responses[i]->Value(col); }), expected) << c.name;
      for (std::size_t i = 0; i < responses.size(); ++i) {
        EXPECT_EQ(responses[i]->GetObjectState(), i + 1 == responses.size() ? New : Clean) << c.name << " " << i;
      }
      std::string trace;
      for (int i = 0; i < c.held + 3; ++i) trace += "CBizObjectCollection::load()";
      EXPECT_EQ(responses.TraceText(), trace + "CBizObjectCollection::add()") << c.name;
    }
    GetCapturedStdout();
  }
}

TEST(Collections, RefuseANullElementAndChangeNothing) {
  CaptureStdout();
  {
    CPersons persons;
    persons.load(Announcing("kept"));
    EXPECT_THROW(persons.add(static_cast<CPerson*>(nullptr)), std::invalid_argument);
    EXPECT_THROW(persons.load(std::unique_ptr<CPerson>()), std::invalid_argument);
    EXPECT_EQ(persons.size(), 1u);
    EXPECT_EQ(persons.TraceText(), "CBizObjectCollection::load()");
  }
  EXPECT_EQ(GetCapturedStdout(), "destroyed kept\nCBizObjectCollection::load()CBizObjectCollection::clear()\n");
}

TEST(Collections, ClearDeletesEveryElementInOrderAndKeepsTheRoom) {
  CaptureStdout();
  std::string afterClear;
  {
    CPersons persons;
    for (int i = 0; i < 12; ++i) persons.load(Announcing(std::to_string(i)));
    const std::size_t room = persons.capacity();
    persons.clear();
    afterClear = GetCapturedStdout();
    EXPECT_TRUE(persons.empty());
    EXPECT_EQ(persons.begin(), persons.end());
    EXPECT_EQ(persons.capacity(), room);
    CaptureStdout();
  }
  std::string expected;
  for (int i = 0; i < 12; ++i) expected += "destroyed " + std::to_string(i) + "\n";
  EXPECT_EQ(afterClear, expected);
  std::string trace;
  for (int i = 0; i < 12; ++i) trace += "CBizObjectCollection::load()";
  EXPECT_EQ(GetCapturedStdout(), trace + "CBizObjectCollection::clear()CBizObjectCollection::clear()\n");
}

TEST(Collections, PrintTheirTraceAsOneLineWhenDestroyed) {
  struct Case {
    const char* name;
    int loads;
    int clears;
    const char* printed;
  };
  const Case cases[] = {
      {"two loads", 2, 0,
       "CBizObjectCollection::load()CBizObjectCollection::load()CBizObjectCollection::clear()\n"},
      {"clear on an empty collection", 0, 1, "CBizObjectCollection::clear()CBizObjectCollection::clear()\n"},
      {"untouched collection", 0, 0, "CBizObjectCollection::clear()\n"},
  };
  for (const Case& c : cases) {
    CaptureStdout();
    {
      CStrategyVisionXrefs links;
      for (int i = 0; i < c.loads; ++i) links.load(new CStrategyVisionXref("s", std::to_string(i)));
      for (int i = 0; i < c.clears; ++i) links.clear();
    }
    EXPECT_EQ(GetCapturedStdout(), c.printed) << c.name;
  }
}

// An inner decorator that answers a fixed result, counts its calls and says
// when it is destroyed.
class ProbeDecorator : public CBizObject {
 public:
  ProbeDecorator(bool answer, std::vector<std::string>* calls) : m_answer(answer), m_calls(calls) {}
  ~ProbeDecorator() override { m_calls->push_back("destroyed"); }
  bool dump() override { return Record("dump"); }
  bool save() override { return Record("save"); }
  bool load() override { return Record("load"); }
  bool validate() override { return Record("validate"); }

 private:
  bool Record(const char* what) {
    m_calls->push_back(what);
    return m_answer;
  }
  bool m_answer;
  std::vector<std::string>* m_calls;
};

TEST(CBizObjectDecorator, WithoutAnInnerDecoratorEveryOperationReturnsTrue) {
  CBizObjectDecorator decorator(nullptr);
  EXPECT_TRUE(decorator.dump());
  EXPECT_TRUE(decorator.save());
  EXPECT_TRUE(decorator.load());
  EXPECT_TRUE(decorator.validate());
  EXPECT_EQ(decorator.Inner(), nullptr);
}

TEST(CBizObjectDecorator, PassesEachOperationToItsInnerOneAndReturnsItsResult) {
  std::vector<std::string> calls;
  {
    CBizObjectDecorator decorator(new ProbeDecorator(false, &calls));
    EXPECT_FALSE(decorator.dump());
    EXPECT_FALSE(decorator.save());
    EXPECT_FALSE(decorator.load());
    EXPECT_FALSE(decorator.validate());
    EXPECT_EQ(calls, (std::vector<std::string>{"dump", "save", "load", "validate"}));
  }
  EXPECT_EQ(calls.back(), "destroyed");
}

TEST(CBizObjectDecorator, OwnsAWholeStackOfInnerDecorators) {
  std::vector<std::string> calls;
  {
    auto middle = std::make_unique<CBizObjectDecorator>(std::make_unique<ProbeDecorator>(true, &calls));
    CBizObjectDecorator outer(std::move(middle));
    EXPECT_TRUE(outer.save());
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"save", "destroyed"}));
}

}  // namespace
