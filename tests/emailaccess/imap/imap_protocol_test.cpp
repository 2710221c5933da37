// The IMAP text the store writes and reads, and what a finished libcurl
// request means: pure functions, checked against the forms servers send.

#include "emailaccess/signin/curl_session.h"
#include "emailaccess/imap/imap_protocol.h"

#include <gtest/gtest.h>

namespace {

using namespace emailaccess;

TEST(ImapQuoting, QuotesWhatAQuotedStringCanCarryAndRefusesTheRest) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"Corvane Survey", "\"Corvane Survey\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"Processed", "\"Processed\""},
      {"", std::nullopt},
      {"line\r\nA2 DELETE INBOX", std::nullopt},
      {"tab\there", std::nullopt},
      {"Umfrage f\xc3\xbcr alle", std::nullopt},
  };
  for (const auto& [text, quoted] : cases) EXPECT_EQ(ImapQuoted(text), quoted) << text;
}

TEST(ImapUidSets, RunsBecomeRanges) {
  EXPECT_EQ(ImapUidSet({}), "");
  EXPECT_EQ(ImapUidSet({5}), "5");
  EXPECT_EQ(ImapUidSet({1, 2, 3, 7, 9, 10}), "1:3,7,9:10");
  EXPECT_EQ(ImapUidSet({4294967294u, 4294967295u}), "4294967294:4294967295");
}

TEST(ImapKeys, RoundTripAndRefuseWhatTheyDidNotWrite) {
  const ImapKey key{"INBOX", 1796699736u, 45u};
  EXPECT_EQ(FormatImapKey(key), "INBOX;UIDVALIDITY=1796699736;UID=45");
  EXPECT_EQ(ParseImapKey(FormatImapKey(key)), key);
  const ImapKey nested{"Church/Replies", 7u, 1u};
  EXPECT_EQ(ParseImapKey(FormatImapKey(nested)), nested);
  for (const char* bad : {"", "1700000000.M1P2.host", "INBOX;UID=4", "INBOX;UIDVALIDITY=1", ";UIDVALIDITY=1;UID=2",
                          "INBOX;UIDVALIDITY=x;UID=2", "INBOX;UIDVALIDITY=0;UID=2", "INBOX;UIDVALIDITY=1;UID=0",
                          "INBOX;UID=2;UIDVALIDITY=1", "INBOX;UIDVALIDITY=1;UID=99999999999"}) {
    EXPECT_FALSE(ParseImapKey(bad)) << bad;
  }
}

TEST(ImapResponses, SearchGivesTheNumbersOfItsLines) {
  EXPECT_EQ(ParseSearchResponse("* SEARCH 3 4 9\r\n"), (std::vector<std::uint32_t>{3, 4, 9}));
  EXPECT_EQ(ParseSearchResponse("* SEARCH\r\n"), std::vector<std::uint32_t>{});
  EXPECT_EQ(ParseSearchResponse("* 3 EXISTS\r\n* search 12\r\n* SEARCH 13 14\r\n* OK [UNSEEN 2]\r\n"),
            (std::vector<std::uint32_t>{12, 13, 14}));
  EXPECT_EQ(ParseSearchResponse("* SEARCHES 1\r\n* ESEARCH (TAG \"A5\") UID ALL 1:3\r\n"), std::vector<std::uint32_t>{});
}

TEST(ImapResponses, EsearchGivesTheUidsOfItsSet) {
  EXPECT_EQ(ParseEsearchResponse("* ESEARCH (TAG \"A5\") UID ALL 1:3,7,10:9\r\n"),
            (std::vector<std::uint32_t>{1, 2, 3, 7, 9, 10}));
  EXPECT_EQ(ParseEsearchResponse("* ESEARCH (TAG \"A5\") UID\r\n"), std::vector<std::uint32_t>{}) << "no match";
  EXPECT_EQ(ParseEsearchResponse("* ESEARCH (TAG \"A5\") UID COUNT 2 ALL 4,6\r\n"),
            (std::vector<std::uint32_t>{4, 6}));
  EXPECT_EQ(ParseEsearchResponse("* SEARCH 1 2\r\n"), std::vector<std::uint32_t>{});
  EXPECT_EQ(ParseEsearchResponse("* ESEARCH UID ALL 1:4294967295\r\n").size(), 1000000u) << "a hostile set is cut";
  EXPECT_EQ(ParseEsearchResponse("* ESEARCH UID ALL 4294967294:4294967295\r\n"),
            (std::vector<std::uint32_t>{4294967294u, 4294967295u}));
}

TEST(ImapResponses, FetchGivesUidSeenAndArrival) {
  const std::string text =
      "* 1 FETCH (UID 45 FLAGS (\\Seen \\Answered) INTERNALDATE \"08-Dec-2026 03:15:36 +0000\")\r\n"
      "* 2 FETCH (FLAGS () UID 46 INTERNALDATE \" 2-Mar-2026 10:00:00 -0700\")\r\n"
      "* 3 FETCH (FLAGS (\\Flagged))\r\n"  // no UID: not ours to use
      "* 4 FETCH (UID 48 FLAGS (\\Recent $Label1 \\seen) MODSEQ (12))\r\n"
      "* 5 EXPUNGE\r\n"
      // No list for FLAGS, a date no 64-bit count of nanoseconds reaches.
      "* 6 FETCH (UID 49 FLAGS \"\" INTERNALDATE \"16-Dec-4528 03:15:36 +0000\")\r\n"
      "* 7 FETCH (UID 50 FLAGS   \"\" \"0\n1TC ";
  const auto fetched = ParseFetchResponse(text);
  ASSERT_EQ(fetched.size(), 5u);
  EXPECT_EQ(fetched[0].uid, 45u);
  EXPECT_TRUE(fetched[0].seen);
  EXPECT_EQ(fetched[0].internalDateNs, 1796699736LL * 1000000000LL);
  EXPECT_EQ(fetched[1].uid, 46u);
  EXPECT_FALSE(fetched[1].seen);
  EXPECT_EQ(fetched[1].internalDateNs, (1772445600LL + 7 * 3600) * 1000000000LL);
  EXPECT_EQ(fetched[2].uid, 48u);
  EXPECT_TRUE(fetched[2].seen) << "flags are compared without letter case";
  EXPECT_EQ(fetched[2].internalDateNs, 0);
  for (size_t i : {3, 4}) {
    EXPECT_EQ(fetched[i].uid, 46u + i) << "the rest of a line is still read";
    EXPECT_FALSE(fetched[i].seen);
    EXPECT_EQ(fetched[i].internalDateNs, 0) << "a date that cannot be counted is not given";
  }
}

TEST(ImapResponses, FetchGivesTheSizeWhenAsked) {
  const auto fetched = ParseFetchResponse(
      "* 1 FETCH (UID 7 RFC822.SIZE 1776 FLAGS ())\r\n* 2 FETCH (UID 8)\r\n* 3 FETCH (UID 9 RFC822.SIZE -4)\r\n");
  ASSERT_EQ(fetched.size(), 3u);
  EXPECT_EQ(fetched[0].size, 1776u);
  EXPECT_EQ(fetched[1].size, 0u) << "not given";
  EXPECT_EQ(fetched[2].size, 0u) << "not a size";
}

// A whole answer counts as done only when its tagged line says OK; the
// same words inside the answer's untagged lines do not count.
TEST(ImapResponses, OnlyATaggedOkLastLineIsSuccess) {
  const std::pair<const char*, bool> cases[] = {
      {"* 1 FETCH (UID 7 FLAGS ())\r\nL3 OK done\r\n", true},
      {"L3 ok\r\n", true},
      {"L3 OK", true},
      {"* OK still going\r\nL3 NO no such message\r\n", false},
      {"L3 OK earlier\r\nL4 BAD syntax\r\n", false},
      {"* OK untagged only\r\n", false},
      {"+ OK\r\n", false},
      {"L3 OKAY\r\n", false},
      {"", false},
  };
  for (const auto& [answer, ok] : cases) EXPECT_EQ(emailaccess::ImapTaggedOk(answer), ok) << answer;
}

// Answers to "UID FETCH <set> BODY.PEEK[]" as libcurl passes them on, line
// by line, with what must come of them.
TEST(ImapResponses, FetchedMessagesAreReadByTheirLiteralsAndOnlyFromAWholeAnswer) {
  using Messages = std::vector<FetchedMessage>;
  const std::string ann = "Subject: Re: Survey\r\n\r\n<answer1>yes</answer1>\r\n";
  const std::string bo = "Subject: x\r\n\r\nA5 OK done\r\n* 9 FETCH (UID 99 BODY[] {3}\r\nabc)\r\n";
  const auto literal = [](const std::string& text) { return "{" + std::to_string(text.size()) + "}\r\n" + text; };
  const struct {
    const char* what;
    std::string transcript;
    std::optional<Messages> expected;
  } cases[] = {
      {"Dovecot's answer", "* 1 FETCH (UID 45 BODY[] " + literal(ann) + ")\r\nA5 OK Fetch completed.\r\n",
       Messages{{45, ann}}},
      {"lines of the message that look like responses stay in it",
       "* 1 FETCH (UID 45 BODY[] " + literal(ann) + ")\r\n* 2 FETCH (UID 46 BODY[] " + literal(bo) +
           ")\r\nA5 OK Fetch completed.\r\n",
       Messages{{45, ann}, {46, bo}}},
      {"the login before it on a new connection, flags, the UID after the text, a text without line end",
       "* OK [CAPABILITY IMAP4rev1] ready\r\nA1 OK Logged in\r\n* 3 FETCH (FLAGS (\\Seen (x)) BODY[] {4}\r\nab\r\n "
       "UID 7)\r\n* 4 FETCH (BODY[] {2}\r\nxy UID 8)\r\nA2 OK done\r\n",
       Messages{{7, "ab\r\n"}, {8, "xy"}}},
      {"a non-synchronising literal, a quoted text, no text, no UID, other responses",
       "* 1 FETCH (UID 1 BODY[] {3+}\r\nabc)\r\n* 2 FETCH (UID 2 BODY[] \"hi \\\"x\\\"\")\r\n"
       "* 3 FETCH (UID 3 BODY[] NIL)\r\n* 4 FETCH (BODY[] {1}\r\nz)\r\n* 5 EXPUNGE\r\n* 6 FETCH (FLAGS ())\r\n"
       "A9 OK done\r\n",
       Messages{{1, "abc"}, {2, "hi \"x\""}}},
      {"nothing found", "A5 OK Fetch completed.\r\n", Messages{}},
      // libcurl ended its reading at a message line that looked like the
      // tagged end: cut inside a literal, or right at its end.
      {"cut inside a literal",
       "* 1 FETCH (UID 45 BODY[] " + literal(bo).substr(0, literal(bo).find("A5 OK") + 12), std::nullopt},
      {"a message line taken for the end at the literal's end",
       "* 1 FETCH (UID 45 BODY[] {9}\r\nx\r\nA5 OK )\r\n", std::nullopt},
      {"no tagged line", "* 1 FETCH (UID 45 BODY[] " + literal(ann) + ")\r\n", std::nullopt},
      {"a refusal", "A5 NO [SERVERBUG] failed\r\n", std::nullopt},
      {"a last line without its end", "* 1 FETCH (UID 45 BODY[] {1}\r\nx)\r\nA5 OK done", std::nullopt},
      {"a literal longer than the answer", "* 1 FETCH (UID 45 BODY[] {99999999999}\r\nx)\r\nA5 OK done\r\n",
       std::nullopt},
      {"nothing at all", "", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFetchedMessages(c.transcript), c.expected) << c.what;
}

TEST(ImapResponses, InternalDatesAreReadOrRefused) {
  EXPECT_EQ(ParseInternalDate("17-Jul-1996 02:44:25 -0700"), 837596665LL * 1000000000LL);
  EXPECT_EQ(ParseInternalDate("01-jan-1970 00:00:00 +0000"), 0LL);
  EXPECT_EQ(ParseInternalDate("1-Jan-1970 01:30:00 +0130"), 0LL);
  EXPECT_EQ(ParseInternalDate("11-Apr-2262 23:47:16 +0000"), 9223372036LL * 1000000000LL) << "the last second counted";
  EXPECT_EQ(ParseInternalDate("21-Sep-1677 00:12:44 +0000"), -9223372036LL * 1000000000LL) << "the first one";
  for (const char* bad : {"", "17-Jul-1996", "17-Foo-1996 02:44:25 -0700", "32-Jul-1996 02:44:25 -0700",
                          "17-Jul-1996 25:44:25 -0700", "17-Jul-1996 02:44:25 0700", "17-Jul-96 02:44:25 -0700",
                          "17-Jul-1996T02:44:25 -0700", "16-Dec-4528 03:15:36 +0000", "11-Apr-2262 23:47:17 +0000",
                          "21-Sep-1677 00:12:43 +0000", "17-Jul--996 02:44:25 -0700", "17-Jul-1996 -1:44:25 -0700",
                          "17-Jul-1996 02:44:25 --700"}) {
    EXPECT_FALSE(ParseInternalDate(bad)) << bad;
  }
}

TEST(ImapResponses, StatusCapabilitiesAndListAreRead) {
  const std::string status = "* STATUS INBOX (MESSAGES 2 UIDNEXT 3 UIDVALIDITY 1796699736)\r\n";
  EXPECT_EQ(ParseStatusValue(status, "UIDVALIDITY"), 1796699736u);
  EXPECT_EQ(ParseStatusValue(status, "messages"), 2u);
  EXPECT_EQ(ParseStatusValue(status, "UNSEEN"), std::nullopt);
  EXPECT_EQ(ParseStatusValue("* STATUS \"My (old) box\" (UIDVALIDITY 9)\r\n", "UIDVALIDITY"), 9u);
  EXPECT_EQ(ParseStatusValue("* OK [UIDVALIDITY 5]\r\n", "UIDVALIDITY"), std::nullopt);

  const auto capabilities = ParseCapabilities("* CAPABILITY IMAP4rev1 UIDPLUS move LITERAL+\r\n");
  EXPECT_EQ(capabilities, (std::set<std::string>{"IMAP4REV1", "UIDPLUS", "MOVE", "LITERAL+"}));
  EXPECT_TRUE(ParseCapabilities("* OK [CAPABILITY IMAP4rev1 MOVE] ready\r\n").empty());

  const std::string list = "* LIST (\\HasNoChildren) \".\" Processed\r\n* LIST () \"/\" \"Skipped Mail\"\r\n";
  EXPECT_TRUE(ListResponseNames(list, "Processed"));
  EXPECT_TRUE(ListResponseNames(list, "Skipped Mail"));
  EXPECT_FALSE(ListResponseNames(list, "Skipped"));
  EXPECT_FALSE(ListResponseNames(list, "processed"));
  EXPECT_FALSE(ListResponseNames("* LSUB () \".\" Processed\r\n", "Processed"));
}

TEST(CurlOutcomes, FailuresAreSortedByWhatToDoAboutThem) {
  struct Case {
    CURLcode code;
    long response;
    const char* refusal;
    FailureKind kind;
  };
  const Case cases[] = {
      {CURLE_OK, 250, "", FailureKind::None},
      {CURLE_LOGIN_DENIED, 535, "535 5.7.8 Authentication credentials invalid", FailureKind::Login},
      {CURLE_PEER_FAILED_VERIFICATION, 0, "", FailureKind::ConnectionPermanent},
      {CURLE_USE_SSL_FAILED, 0, "", FailureKind::ConnectionPermanent},
      {CURLE_COULDNT_CONNECT, 0, "", FailureKind::ConnectionTemporary},
      {CURLE_OPERATION_TIMEDOUT, 0, "", FailureKind::ConnectionTemporary},
      {CURLE_GOT_NOTHING, 0, "", FailureKind::ConnectionTemporary},
      {CURLE_RECV_ERROR, 0, "", FailureKind::ConnectionTemporary},
      {CURLE_SEND_ERROR, 0, "", FailureKind::ConnectionTemporary},
      {CURLE_SEND_ERROR, 550, "550 5.1.1 no such user", FailureKind::MessagePermanent},
      {CURLE_SEND_ERROR, 451, "451 4.3.0 try again", FailureKind::MessageTemporary},
      {CURLE_SEND_ERROR, 452, "452 mailbox full", FailureKind::MessageTemporary},
      {CURLE_WEIRD_SERVER_REPLY, 554, "554 5.7.1 spam", FailureKind::MessagePermanent},
      {CURLE_SEND_ERROR, 421, "421 shutting down", FailureKind::ConnectionTemporary},
      {CURLE_QUOTE_ERROR, 0, "A7 NO [TRYCREATE] Mailbox doesn't exist", FailureKind::MessagePermanent},
      {CURLE_QUOTE_ERROR, 0, "A7 NO [UNAVAILABLE] Try later", FailureKind::MessageTemporary},
      {CURLE_QUOTE_ERROR, 0, "A7 NO [INUSE] Mailbox locked", FailureKind::MessageTemporary},
      {CURLE_REMOTE_FILE_NOT_FOUND, 0, "", FailureKind::MessagePermanent},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyFailure(c.code, c.response, c.refusal), c.kind) << curl_easy_strerror(c.code) << " " << c.refusal;
  }
}

TEST(CurlOutcomes, RefusalsAreToldFromOtherReplies) {
  for (const char* refusal : {"550 5.1.1 no such user", "451-first line", "A7 NO [TRYCREATE] missing", "A12 BAD syntax",
                              "A3 NO"}) {
    EXPECT_TRUE(IsRefusal(refusal)) << refusal;
  }
  for (const char* other : {"250 2.0.0 OK", "221 Bye", "354 go ahead", "A7 OK done", "* NO [ALERT] quota", "+ ",
                            "A7 NOOP completed", "", "5", "4x0 odd"}) {
    EXPECT_FALSE(IsRefusal(other)) << other;
  }
}

}  // namespace
