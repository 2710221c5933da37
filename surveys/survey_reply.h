// Survey replies: one returned survey e-mail becomes one SurveyReply row and
// one SurveyResponse row per answered question.
//
// Contract: ProcessSurveyReply reads only the tags the machine-readable survey
// body wrote ("<SurveyID>", "<QuestionID<N>>", "<answer<N>>", case-sensitive,
// leading spaces removed); the survey and its questions are not looked up.
// The identifiers are taken from the first occurrence of their tags; an
// answer from the first pair of its tags that holds more than blanks, so an
// answer typed under the blank form it quotes is found (ExtractTypedValue). Answer N belongs to the question whose identifier stands
// in question tag N; the walk ends at the first N without a question
// identifier. Every value is stored exactly as the message carries it (SQL
// quoting is this operation's business, not the sender's).
//
// Result (also given in `outcome` when not null; kNothingTyped for a reply
// with a survey identifier and no answer): false when nothing was stored (no survey identifier, no answer, or
// a reply of this survey from this originator with this date already stored);
// otherwise the result of saving the reply row. The responses are saved
// before the reply row, all in one transaction: a reply is stored whole or
// not at all. A failing statement throws out of the gateway (after the
// database error log entry) and leaves at once; the reply's rows written
// before it are rolled back, so a second offer of the same reply stores it
// whole.
// Standard output receives the load and save trace of the responses, and the
// operation traces of both collections when they are destroyed.
#pragma once

#include <string>

#include "bizobjects/stored_replies.h"

bool ProcessSurveyReply(std::string originator, std::string date, std::string body,
                        ReplyOutcome* outcome = nullptr);
