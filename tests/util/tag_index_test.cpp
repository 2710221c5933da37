#include "util/tag_index.h"

#include <gtest/gtest.h>

#include <string>

#include "util/identifiers.h"

namespace {

// The index gives every value exactly as searching the body from its start
// for each tag does.
TEST(TagIndex, ReadsEveryTagAsTheSearchingReadersDo) {
  const std::string bodies[] = {
      "",
      "<Status> 25 </Status>",
      "<Status>   </Status><Status> 40</Status>",
      "</Status> before <Status> after",
      "<Status>a</Status",
      "<Status>\xC2\xA0\t\r\n</Status>\r\n> <status> 9 </status>\r\n<status>  </status> <status>12</status>",
      "Example:  <status> 25 </status>\r\n  > <status>3</status>\r\n\t<status> 7 </status>",
      "<<Status>x</Status>> <Status/> </ Status> <Sta tus>",
      "<answer1>  </answer1><answer1>yes</answer1><answer10>ten</answer10><QuestionID1>{Q}</QuestionID1>",
      "<answer1><answer1></answer1>one</answer1>",
      "<Comment>  \xC2\xA0 On track \xC2\xA0</Comment> <Comment>later</Comment>",
      "<status>a</status><status>b</status> on one line <status> c </status>",
  };
  for (const std::string& body : bodies) {
    const TagIndex tags(body);
    for (const char* name : {"Status", "status", "Comment", "answer1", "answer10", "QuestionID1", "Missing"}) {
      SCOPED_TRACE(testing::Message() << "body " << testing::PrintToString(body) << ", tag " << name);
      std::string searched = "stale", indexed = "stale";
      EXPECT_EQ(tags.Value(name, indexed), GetTagValue(body, name, searched));
      EXPECT_EQ(indexed, searched);
      EXPECT_EQ(tags.TypedValue(name), TypedTagValue(body, name));
      EXPECT_EQ(tags.ValueOnTypedLine(name),
                ExtractFromTypedLines(body, std::string("<") + name + ">", std::string("</") + name + ">"));
    }
  }
}

TEST(MailAddress, ComparesTheLocalPartExactlyAndTheDomainInAnyCase) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"ann.lee@example.org", "ann.lee@example.org", true},
      {"ann.lee@example.org", "ann.lee@EXAMPLE.Org", true},
      {"Ann Lee <ann.lee@example.org>", " ann.lee@example.org ", true},
      {"\"Lee, Ann\" <ann.lee@example.org>", "ann.lee@example.org", true},
      {"Ann.Lee@example.org", "ann.lee@example.org", false},
      {"ann.lee@example.org", "ann.lee@example.org.evil", false},
      {"ann.lee@example.org", "nann.lee@example.org", false},
      {"", "", false},
      {"ann.lee", "ann.lee", false},
      {"@example.org", "@example.org", false},
      {"ann@", "ann@", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameMailAddress(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(SameMailAddress(c.b, c.a), c.same) << c.b << " / " << c.a;
  }
}

TEST(HasLeadingInteger, IsTrueOnlyWhereLeadingIntegerFindsDigits) {
  for (const char* number : {"25", " 25%", "\t-5", "+7x", "007", "99999999999"}) {
    EXPECT_TRUE(HasLeadingInteger(number)) << number;
  }
  for (const char* word : {"", "done", "about 50", "-", "+", " . 5", "%25"}) {
    EXPECT_FALSE(HasLeadingInteger(word)) << word;
  }
}

}  // namespace
