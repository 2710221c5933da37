// Mail exchange with the mail-access program LVEmailAccess: this program never
// talks to a mail server; it writes what to send into an exchange file for that
// program and reads the replies it fetched from another.
#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "mail/mail_recipient.h"
#include "util/run_log.h"

// None of these functions throws: failures are reported by their results and
// in the run log.

// Operation numbers of the mail-access program.
inline constexpr int kMailSendGoalNotification = 1;  // outgoing file, one recipient
inline constexpr int kMailSendSurvey = 2;            // outgoing file, the whole distribution list
inline constexpr int kMailFetchReplies = 4;          // incoming file, written by the program

// The mail-access program's name, looked for beside this program first and
// then on PATH.
inline constexpr const char kMailAccessProgram[] = "LVEmailAccess";

// A fresh exchange file path: the program's folder, a new GUID without its
// braces (36 characters) and ".tmp". Never the same twice. Creating and
// deleting the file there is the caller's business.
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
// started, whatever its exit status; false when it could not be started.
// `runLog` gets the reason a start failed; every line the program wrote to
// standard output (what it tells the office: where a mailing went); and, for
// an end other than with 0, what the status means and the first lines the
// program wrote to standard error, so a run that sent or fetched nothing
// does not look like a success.
bool RunEmailAccess(RunLog& runLog, const std::string& exchangePath, int operation, const std::string& subject,
                    int flag);

// The exit statuses of the mail-access program that mean more than "failed".
inline constexpr int kMailAccessBadArguments = 64;
inline constexpr int kMailAccessSomeAddressesUnusable = 65;
inline constexpr int kMailAccessTemporaryFailure = 75;
inline constexpr int kMailAccessBadSettings = 78;
inline constexpr int kMailAccessFailure = 1;

// What this process's mail-access runs came to, for LvMAPI's exit status:
// 0 when every run ended with 0 (or none ran); otherwise the most serious
// outcome seen, in the order 78, then any other failure (1; also a signal or
// a program that could not be started), then 75, then 65.
int MailAccessJobStatus();
// Forgets the runs so far (a new job, or a test).
void ResetMailAccessJobStatus();
// Counts a failure of this program's own part of the exchange (a file that
// could not be written or read) with the mail-access runs' outcomes, as
// if a run had ended with `status`.
void RecordJobStatus(int status);

// Deletes an exchange file this program is done with. One that another
// program holds past the waiting (a scanner) is named in the list of
// leftover files beside the program, for DeleteLeftOverExchangeFiles of a
// later run; the run log says so. An exchange file that may still be
// needed (replies not read) must not be given here.
void DiscardExchangeFile(RunLog& runLog, const std::string& path);
// Deletes the files that list names and forgets those that are gone; the
// others stay listed. For the start of every job.
void DeleteLeftOverExchangeFiles(RunLog& runLog);

// The sending procedure shared by every outgoing mailing: writes
// `exchangeText` to a new exchange file of its own (line breaks normalised, see
// WriteTextFile), runs the mail-access program on it with `operation`,
// `subject` and flag 0, and deletes the file again (DiscardExchangeFile),
// also when the program could not be started. Returns RunEmailAccess's
// result; false without starting it when the file could not be written
// (logged, said on standard error, and recorded as a temporary failure
// when another program held it, as a failure otherwise).
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
