// Log decorators: headings and key lines, on standard output and on streams.
#include "bizobjects/log_decorators.h"

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

template <class Element, std::size_t... I>
Element* Filled(const std::vector<std::string>& firstValues, std::index_sequence<I...>) {
  // Columns after the given ones hold text that must never be printed.
  const auto value = [&](std::size_t i) { return i < firstValues.size() ? firstValues[i] : "not a key"; };
  return new Element(value(I)...);
}
template <class Element>
Element* Filled(const std::vector<std::string>& firstValues) {
  return Filled<Element>(firstValues, std::make_index_sequence<Element::kColumnCount>());
}

// Runs `save` of a log decorator of the given class on standard output, over
// one element whose first columns are "k1" (and "k2"), and returns what was
// printed. The collection's own trace is printed after the capture ends.
template <class Decorator, class Collection>
std::function<std::string()> SaveTraceOf() {
  return [] {
    using Element = typename Decorator::ElementType;
    Collection collection;
    collection.load(Filled<Element>({"k1", "k2"}));
    Decorator decorator(nullptr, &std::cout, &collection);
    CaptureStdout();
    EXPECT_TRUE(decorator.save());
    return GetCapturedStdout();
  };
}

TEST(EveryLogDecorator, PrintsTheHeadingAndTheKeyLinesOfEachElement) {
  const struct {
    std::function<std::string()> run;
    const char* keyLines;
  } cases[] = {
      {SaveTraceOf<CPersonLogDecorator, CPersons>(), "PersonID = k1\n"},
      {SaveTraceOf<CSurveyLogDecorator, CSurveys>(), "SurveyID = k1\n"},
      {SaveTraceOf<CSurveyQuestionTypeLogDecorator, CSurveyQuestionTypes>(), "QuestionType = k1\n"},
      {SaveTraceOf<CSurveyReplyLogDecorator, CSurveyReplys>(), "ReplyID = k1\n"},
      {SaveTraceOf<CSurveyResponseLogDecorator, CSurveyResponses>(), "ResponseID = k1\n"},
      {SaveTraceOf<CVisionLogDecorator, CVisions>(), "VisionID = k1\n"},
      {SaveTraceOf<CStrategicPlanLogDecorator, CStrategicPlans>(), "PlanID = k1\n"},
      {SaveTraceOf<CStrategyGoalStatusReplyLogDecorator, CStrategyGoalStatusReplys>(), "ReplyID = k1\n"},
      {SaveTraceOf<CStrategyGoalStatusResponseLogDecorator, CStrategyGoalStatusResponses>(), "ResponseID = k1\n"},
      {SaveTraceOf<CStrategyVisionXrefLogDecorator, CStrategyVisionXrefs>(), "StrategyID = k1\nVisionID = k2\n"},
      {SaveTraceOf<CResourceLogDecorator, CResources>(), "ResourceID = k1\n"},
      {SaveTraceOf<CSettingsLogDecorator, CSettingss>(), "SettingNum = k1\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.run(), std::string("CCoreValue::save() \n") + c.keyLines);
  }
}

TEST(LogDecorator, EachOperationWritesItsOwnHeadingAndReturnsTrue) {
  CPersons persons;
  persons.load(Filled<CPerson>({"{A}"}));
  std::ostringstream out;
  CPersonLogDecorator decorator(nullptr, &out, &persons);
  const std::pair<std::function<bool()>, const char*> operations[] = {
      {[&] { return decorator.dump(); }, "CCoreValue::dump() \nPersonID = {A}\n"},
      {[&] { return decorator.save(); }, "CCoreValue::save() \nPersonID = {A}\n"},
      {[&] { return decorator.load(); }, "CCoreValue::load() \nPersonID = {A}\n"},
      {[&] { return decorator.validate(); }, "CCoreValue::validate() \nPersonID = {A}\n"},
  };
  for (const auto& [operation, expected] : operations) {
    out.str("");
    EXPECT_TRUE(operation());
    EXPECT_EQ(out.str(), expected);
  }
}

TEST(LogDecorator, SaveOverAnEmptyCollectionWritesOnlyTheHeading) {
  CaptureStdout();
  {
    CSurveyResponses responses;
    CSurveyResponseLogDecorator decorator(nullptr, &std::cout, &responses);
    EXPECT_TRUE(decorator.save());
  }
  EXPECT_EQ(GetCapturedStdout(), "CCoreValue::save() \nCBizObjectCollection::clear()\n");
}

// A stream buffer that keeps what it is given and how much of it had been
// handed on when the stream was last flushed.
class RecordingBuffer : public std::streambuf {
 public:
  std::string written;
  std::size_t flushedUpTo = 0;

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) written.push_back(static_cast<char>(c));
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize n) override {
    written.append(text, static_cast<std::size_t>(n));
    return n;
  }
  int sync() override {
    flushedUpTo = written.size();
    return 0;
  }
};

TEST(LogDecorator, ATraceOfManyElementsIsWrittenWholeInOrderAndFlushedWhenTheOperationEnds) {
  for (const int elements : {0, 1, 1500, 5000}) {  // 5000 lines are several pieces
    CSurveyResponses responses;
    std::string expected = "CCoreValue::save() \n";
    for (int i = 0; i < elements; ++i) {
      const std::string id = "{RESPONSE-" + std::to_string(i) + "}";
      responses.load(Filled<CSurveyResponse>({id}));
      expected += "ResponseID = " + id + "\n";
    }
    RecordingBuffer buffer;
    std::ostream stream(&buffer);
    CSurveyResponseLogDecorator decorator(nullptr, &stream, &responses);
    EXPECT_TRUE(decorator.save());
    EXPECT_TRUE(buffer.written == expected) << elements << " elements: " << buffer.written.size() << " bytes, "
                                            << expected.size() << " expected";
    EXPECT_EQ(buffer.flushedUpTo, expected.size()) << elements << " elements";
  }
}

TEST(LogDecorator, TwoVisionLinksGiveFiveLines) {
  CaptureStdout();
  {
    CStrategyVisionXrefs links;
    links.load(new CStrategyVisionXref("{S}", "{V1}"));
    links.load(new CStrategyVisionXref("{S}", "{V2}"));
    CStrategyVisionXrefLogDecorator decorator(nullptr, &std::cout, &links);
    EXPECT_TRUE(decorator.load());
  }
  EXPECT_EQ(GetCapturedStdout(),
            "CCoreValue::load() \nStrategyID = {S}\nVisionID = {V1}\nStrategyID = {S}\nVisionID = {V2}\n"
            "CBizObjectCollection::load()CBizObjectCollection::load()CBizObjectCollection::clear()\n");
}

TEST(LogDecorator, ListsEveryElementWhateverItsStateWithKeysAsStored) {
  CPersons persons;
  persons.add(Filled<CPerson>({"O'Brien"}));
  persons.load(Filled<CPerson>({"line\nbreak"}));
  persons.load(Filled<CPerson>({""}));
  persons.at(1)->SetObjectState(Deleted);
  persons.at(2)->SetObjectState(Unset);
  std::ostringstream out;
  CPersonLogDecorator decorator(nullptr, &out, &persons);
  EXPECT_TRUE(decorator.validate());
  EXPECT_EQ(out.str(), "CCoreValue::validate() \nPersonID = O'Brien\nPersonID = line\nbreak\nPersonID = \n");
}

TEST(LogDecorator, LetsItsInnerDecoratorWriteFirstAndIgnoresItsResult) {
  CSettingss settings;
  settings.load(Filled<CSettings>({"8"}));
  std::ostringstream outer;
  CSettingsLogDecorator decorator(std::make_unique<CSettingsLogDecorator>(nullptr, nullptr, &settings), &outer,
                                  &settings);
  EXPECT_TRUE(decorator.dump()) << "the inner decorator has no stream and answers false";
  EXPECT_EQ(outer.str(), "CCoreValue::dump() \nSettingNum = 8\n");

  outer.str("");
  CSettingsLogDecorator stacked(new CSettingsLogDecorator(nullptr, &outer, nullptr), &outer, &settings);
  EXPECT_TRUE(stacked.load());
  EXPECT_EQ(outer.str(), "CCoreValue::load() \nCCoreValue::load() \nSettingNum = 8\n");
}

TEST(LogDecorator, WithoutAStreamWritesNothingAndReportsFalse) {
  CVisions visions;
  CVisionLogDecorator decorator(nullptr, nullptr, &visions);
  EXPECT_FALSE(decorator.dump());
  EXPECT_FALSE(decorator.save());
  EXPECT_FALSE(decorator.load());
  EXPECT_FALSE(decorator.validate());
}

TEST(LogDecorator, WithoutACollectionWritesTheHeadingAlone) {
  std::ostringstream out;
  CResourceLogDecorator decorator(nullptr, &out, nullptr);
  EXPECT_TRUE(decorator.save());
  EXPECT_EQ(out.str(), "CCoreValue::save() \n");
}

}  // namespace
