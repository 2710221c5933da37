// Mail exchange with the mail-access program LVEmailAccess.
//
// This program never talks to a mail server. To send, it writes an outgoing
// exchange file (numbered Recipient/Email elements, then one Body element)
// under a fresh GUID name beside the program, starts LVEmailAccess on it,
// waits for it to end and deletes the file. To fetch replies, it starts
// LVEmailAccess on a file name that does not exist yet and reads the numbered
// Originator/Date/Body elements that program has written into it.
//
// Nothing here throws. Failures are reported by results and, where a run log
// is given, by one line in it: the mail-access program that cannot be started
// is logged with the system's reason (so a run that sent nothing does not
// look like a success); its exit status is never read. Exchange files are
// owned by the caller of NewExchangeFilePath, except in SendOutgoingExchange,
// which creates and deletes its own.
#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_log.h"
#include "mail/mail_recipient.h"

// Operation numbers of the mail-access program.
inline constexpr int kMailSendGoalNotification = 1;  // outgoing file, one recipient
inline constexpr int kMailSendSurvey = 2;            // outgoing file, the whole distribution list
inline constexpr int kMailFetchReplies = 4;          // incoming file, written by the program

// The mail-access program's name, looked for beside this program first and
// then on PATH.
inline constexpr const char kMailAccessProgram[] = "LVEmailAccess";

// A fresh exchange file path: the program's folder, a new GUID without its
// braces (36 characters) and ".tmp". Never the same twice.
std::string NewExchangeFilePath();

// Appends "<tag>value</tag>" to `out`; the value is written unchanged (no
// escaping of brackets, ampersands or line breaks).
void WriteTagElement(std::string tagName, std::string value, std::ostream& out);

// The outgoing exchange text: for recipient i = 1..n, in list order, the
// element "Recipient<i>" holding the display name and "Email<i>" holding the
// address, each followed by a line feed; then the element "Body" holding
// `body`, with nothing after it.
std::string OutgoingExchangeText(const std::vector<MailRecipient>& recipients, const std::string& body);

// Starts the mail-access program with the arguments operation, path, subject
// and flag (each a separate argument, so blanks and double quotes in the
// subject arrive unchanged) and waits until it has ended. True when it was
// started (whatever its exit status); false when it could not be started,
// after logging one line with the reason to `runLog`.
bool RunEmailAccess(RunLog& runLog, const std::string& exchangePath, int operation, const std::string& subject,
                    int flag);

// The sending procedure shared by every outgoing mailing: makes a new
// exchange file path, logs "Creating output file: <path>", writes
// `exchangeText` there (line breaks normalised, see WriteTextFile), runs the
// mail-access program with `operation`, `subject` and flag 0, and deletes the
// file again, also when the program could not be started. A file that cannot
// be written is logged; the program is still started (it decides what a
// missing file means). Returns RunEmailAccess's result.
bool SendOutgoingExchange(RunLog& runLog, const std::string& exchangeText, int operation, const std::string& subject);

// Replaces the content of `stream` with the bytes of the file at `path`,
// unconverted. False, with `stream` left empty, when the file cannot be read.
bool ReadTextFile(const std::string& path, std::stringstream& stream);

// Looks up the element "<name><number>" in `text` (both tags searched from the
// start of the whole text, first occurrences count, case-sensitive) and gives
// its value less leading spaces. False, with `value` empty, when either tag
// is missing.
bool GetNumberedTagValue(const std::string& text, const std::string& tagName, int number, std::string& value);

// One reply of an incoming exchange file.
struct IncomingRecord {
  std::string originator, date, body;
};

// The replies of an incoming exchange file: records 1, 2, ... through
// GetNumberedTagValue, up to the first that lacks its Originator, Date or
// Body, and at most `limit` of them.
std::vector<IncomingRecord> ReadIncomingRecords(const std::string& text, size_t limit = SIZE_MAX);
