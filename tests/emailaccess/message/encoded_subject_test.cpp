// Subjects made of encoded words, as mail programs split long or non-ASCII
// subjects: every word's text must arrive, also after a base64 word that
// ends in padding (GMime alone drops what follows such a word when the next
// word has the same charset) and after plain text that only looks like the
// start of an encoded word.

#include "emailaccess/message/message_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string SubjectOf(const std::string& rawSubject) {
  const auto message = emailaccess::ReadIncomingMessage(
      "From: ann.lee@example.org\r\nSubject: " + rawSubject + "\r\nMIME-Version: 1.0\r\n\r\nbody\r\n", "x@localhost");
  EXPECT_TRUE(message.parsed);
  return message.subject;
}

TEST(EncodedSubject, EveryEncodedWordArrives) {
  struct Case {
    std::string raw, decoded;
  };
  const Case cases[] = {
      {"=?UTF-8?B?w6Q=?= =?UTF-8?B?w7Y=?=", "\xC3\xA4\xC3\xB6"},
      {"=?UTF-8?B?UmU6IENvcnZhbmUg?= =?UTF-8?B?U3VydmV5IC0gRnLDvGhsaW5n?=", "Re: Corvane Survey - Fr\xC3\xBChling"},
      {"=?UTF-8?B?UmU6IENvcnZhbmUgU3U=?=\r\n =?UTF-8?B?cnZleSAtIEZyw7xobGluZw==?=",
       "Re: Corvane Survey - Fr\xC3\xBChling"},
      {"=?iso-8859-1?B?5A==?= =?iso-8859-1?B?9g==?= und =?iso-8859-1?B?/A==?=", "\xC3\xA4\xC3\xB6 und \xC3\xBC"},
      {"=?UTF-8?B?QUI=?= tail", "AB tail"},
      {"Re: =?UTF-8?B?QUI=?==?UTF-8?Q?C_D?=", "Re: ABC D"},
      // A character split across two words (against the rules, but written)
      // is still joined.
      {"=?UTF-8?B?w6TD?= =?UTF-8?B?tg==?=", "\xC3\xA4\xC3\xB6"},
      {"plain text, no words", "plain text, no words"},
      // Plain text that only starts like an encoded word does not hide the real ones.
      {"Survey =?x =?UTF-8?B?w6Q=?=", "Survey =?x \xC3\xA4"},
      {"Corvane Survey =?Gemeinde =?UTF-8?b?RnLDvGhsaW5n?=", "Corvane Survey =?Gemeinde Fr\xC3\xBChling"},
      {"=?UTF-8?B?QUI=?=  plain  =?UTF-8?Q?C?=", "AB  plain  C"},
      {"=?broken?B?", "=?broken?B?"},
  };
  for (const Case& c : cases) EXPECT_EQ(SubjectOf(c.raw), c.decoded) << c.raw;
}

}  // namespace
