// Starting the mail-access program LVEmailAccess and reading its answer: this
// program never talks to a mail server; it hands what to send over in an
// exchange file and gets the replies back in another. The files' formats,
// the operation numbers and the exit statuses are the two programs'
// contract (exchange/).
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "mail/mail_recipient.h"
#include "util/run_log.h"

// None of these functions throws: failures are reported by their results and
// in the run log.

// A fresh exchange file path: the program's folder, a new GUID without its
// braces (36 characters) and ".tmp". Never the same twice. Creating and
// deleting the file there is the caller's business.
std::string NewExchangeFilePath();

// What a mailing is called in its outgoing exchange file: `kind`
// ("survey", "goal"), a blank, and `id` in registry form (braces, upper
// case), so that every spelling of one identifier names one mailing and the
// mail-access program knows a second run of it from a new mailing.
std::string MailingName(const std::string& kind, const std::string& id);

// The outgoing exchange text (exchange/outgoing.h) of the mailing `mailing`
// (MailingName) for `recipients`, each under its display name, in list
// order.
std::string OutgoingExchangeText(const std::vector<MailRecipient>& recipients, const std::string& body,
                                 const std::string& mailing);

// Starts the mail-access program with the arguments operation, path, subject
// and flag (each a separate argument, so blanks and double quotes in the
// subject arrive unchanged) and waits until it has ended. True when it was
// started, whatever its exit status; false when it could not be started.
// `runLog` gets the reason a start failed; every line the program wrote to
// standard output (what it tells the office: where a mailing went, how much
// of it is out and when the rest follows), each after `linePrefix`; and, for
// an end other than with 0, what the status means and the first lines the
// program wrote to standard error, so a run that sent or fetched nothing
// does not look like a success.
bool RunEmailAccess(RunLog& runLog, const std::string& exchangePath, int operation, const std::string& subject,
                    int flag, const std::string& linePrefix = {});

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
// also when the program could not be started. What the program tells about
// the mailing stands in the run log after the mailing's `title` and ": "
// (a survey's title, a goal's), so that the office sees which mailing a
// line is about; after the subject when the title is blank. Returns
// RunEmailAccess's result; false without starting it when the file could
// not be written (logged, said on standard error, and recorded as a
// temporary failure when another program held it, as a failure otherwise).
bool SendOutgoingExchange(RunLog& runLog, const std::string& exchangeText, int operation, const std::string& subject,
                          const std::string& title);

// Replaces the content of `stream` with the bytes of the file at `path`,
// unconverted. False, with `stream` left empty, when the file cannot be read.
bool ReadTextFile(const std::string& path, std::stringstream& stream);
