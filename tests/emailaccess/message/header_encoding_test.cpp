// Headers of composed messages as a strict reader takes them: Python's
// e-mail package with its strict policy finds no defect, gives back the
// names and the subject, and sees no encoded word longer than RFC 2047's 75
// characters, also for long names without a blank to fold at.

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

#include "emailaccess/message/compose.h"
#include "test_support.h"

namespace {

struct HeaderCase {
  const char* what;
  std::string name;
  std::string subject;
};

TEST(ComposedHeaders, LongNonAsciiNamesAndSubjectsAreShortEncodedWordsAStrictReaderTakes) {
  // The Greek and the first German name are 60 characters each.
  const HeaderCase cases[] = {
      {"Greek", "Ευαγγελία Παπαδοπούλου-Κωνσταντινίδου-Αναστασοπούλου Ευτέρπη",
       "Corvane Survey - Ερωτηματολόγιο-Ενοριακής-Συνέλευσης-Άνοιξης-Καλοκαιριού"},
      {"German", "Hildegard Müller-Lüdenscheidt-Großkreuzschänke Überäußerster",
       "Corvane Survey - Gemeindeverwaltungsbüroleitungsstellvertreterinnenübersicht"},
      {"specials", "\"Müller, Jürgen\" <x@example.org>", "Corvane Survey - Frühling =?UTF-8?B?QUI=?="},
  };
  testing_support::ScratchDir dir;
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto message = emailaccess::ComposeMessage({c.name, "office@example.org"}, {c.name, "ann@example.org"},
                                                     c.subject, "body\r\n", std::chrono::system_clock::now());
    testing_support::WriteFile(dir.file("message.eml"), message.data);
    const auto run = testing_support::Run(
        "/usr/bin/python3", {std::string(LVMAPI_SOURCE_DIR) + "/tests/emailaccess/read_headers.py",
                             dir.file("message.eml")});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    std::istringstream lines(run.out);
    std::string header, longest, value;
    for (const std::string& expected :
         {c.name + " <office@example.org>", c.name + " <ann@example.org>", c.subject}) {
      ASSERT_TRUE(std::getline(lines, header, '\t') && std::getline(lines, longest, '\t') &&
                  std::getline(lines, value))
          << run.out;
      EXPECT_LE(std::stoi(longest), 75) << header << "\n" << message.data;
      EXPECT_EQ(value, expected) << header;
    }
    EXPECT_EQ(lines.str().substr(lines.str().rfind("defects")), "defects\t0\n");
  }
}

}  // namespace
