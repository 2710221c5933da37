// Survey replies: one returned survey e-mail becomes one SurveyReply row and
// one SurveyResponse row per answered question.
#pragma once

#include <string>

#include "bizobjects/stored_replies.h"

// Stores the reply `body` from `originator` dated `date`. Only the tags the
// survey body wrote are read, and every value is stored exactly as the
// message carries it. The survey must still be in the database and the
// originator on its list (its persons' addresses and its other addresses, as
// the send builds it). Only answers to the survey's own questions are
// stored, the first typed for each question; answers to questions of another
// survey, or second answers to one question, are left out. The responses and
// the reply row are stored in one transaction, whole or not at all.
// False when nothing was stored: no survey identifier (kNoTags, kNoOwner), no
// answer (kNothingTyped), no such survey (kOwnerNotFound), a sender not on
// the list (kNotOnList), no answer to a question of the survey
// (kNoSurveyQuestion), or this reply is stored already: the same survey,
// originator and date with the same answers (kStoredBefore); otherwise
// whether the reply row was saved.
// `outcome`, when not null, receives what became of the reply. A failing
// statement throws (after the database error log entry) and what this reply
// wrote is rolled back, so offering it again stores it whole.
bool ProcessSurveyReply(std::string originator, std::string date, std::string body,
                        ReplyOutcome* outcome = nullptr);
