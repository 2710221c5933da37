// Survey replies: one returned survey e-mail becomes one SurveyReply row and
// one SurveyResponse row per answered question.
#pragma once

#include <string>

#include "bizobjects/stored_replies.h"

// Stores the reply `body` from `originator` dated `date`. Only the tags the
// survey body wrote are read; the survey must still be in the database (its
// questions are not looked up), and every value is stored exactly as the
// message carries it. The responses
// and the reply row are stored in one transaction, whole or not at all.
// False when nothing was stored: no survey identifier (kNoTags, kNoOwner), no
// answer (kNothingTyped), no such survey (kOwnerNotFound), or a reply of this
// survey from this originator with this date is stored already
// (kStoredBefore); otherwise whether the reply row was saved.
// `outcome`, when not null, receives what became of the reply. A failing
// statement throws (after the database error log entry) and what this reply
// wrote is rolled back, so offering it again stores it whole.
bool ProcessSurveyReply(std::string originator, std::string date, std::string body,
                        ReplyOutcome* outcome = nullptr);
