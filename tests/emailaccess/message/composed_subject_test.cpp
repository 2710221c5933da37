// A subject that holds a literal "=?" (GMime alone breaks one of its encoded
// words across two lines then) is written as whole encoded words, one per
// line, that give back exactly the subject.

#include "emailaccess/message/compose.h"
#include "emailaccess/message/message_text.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

namespace {

// The Subject header's lines, unfolded into their words.
std::vector<std::string> SubjectLines(const std::string& message) {
  std::vector<std::string> lines;
  size_t at = message.find("\r\nSubject:");
  if (message.compare(0, 8, "Subject:") == 0) at = 0;
  if (at == std::string::npos) return lines;
  size_t pos = message.find(':', at) + 1;
  for (;;) {
    const size_t end = message.find("\r\n", pos);
    lines.push_back(message.substr(pos, end - pos));
    if (end == std::string::npos || (message[end + 2] != ' ' && message[end + 2] != '\t')) break;
    pos = end + 2;
  }
  return lines;
}

TEST(ComposedSubject, ALiteralEncodedWordStartIsWrittenAsWholeEncodedWords) {
  const std::string subjects[] = {
      "Corvane Survey =?Gemeindeumfrage Fr\xC3\xBChling \xE2\x80\x93 \xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F und noch mehr "
      "Text f\xC3\xBCr lange Betreffzeilen",
      "A =?b \xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F",
      "x=?",
      "=?UTF-8?B?QUI=?= typed by hand",
      // The first word's 39 bytes would end inside the euro sign.
      "=?" + std::string(36, 'y') + "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC",
  };
  for (const std::string& subject : subjects) {
    SCOPED_TRACE(subject);
    const auto message = emailaccess::ComposeMessage({"LvMAPI", "lvmapi@localhost"}, {"Ann", "ann@example.org"},
                                                     subject, "body\r\n", std::chrono::system_clock::now());
    std::string joined;
    for (const std::string& line : SubjectLines(message.data)) {
      EXPECT_LE(line.size() + 8, 78u) << line;
      std::smatch word;
      ASSERT_TRUE(std::regex_match(line, word, std::regex(R"( =\?UTF-8\?B\?([A-Za-z0-9+/=]+)\?=)"))) << line;
      gsize length = 0;
      guchar* bytes = g_base64_decode(word[1].str().c_str(), &length);
      const std::string text(reinterpret_cast<const char*>(bytes), length);
      g_free(bytes);
      EXPECT_TRUE(g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) << "a character was split";
      joined += text;
    }
    EXPECT_EQ(joined, subject);
    EXPECT_EQ(emailaccess::ReadIncomingMessage(message.data, "x@localhost").subject, subject);
  }
}

TEST(ComposedSubject, AnOrdinarySubjectIsLeftToGMime) {
  const auto message = emailaccess::ComposeMessage({"LvMAPI", "lvmapi@localhost"}, {"Ann", "ann@example.org"},
                                                   "Corvane Survey - Spring", "body\r\n",
                                                   std::chrono::system_clock::now());
  EXPECT_NE(message.data.find("\r\nSubject: Corvane Survey - Spring\r\n"), std::string::npos) << message.data;
}

}  // namespace
