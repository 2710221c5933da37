// Dates in the form the computer's user reads and writes them: the short
// date of their regional settings. Nothing here throws.
#pragma once

#include <string>

namespace platform {

// Takes the user's regional settings for the rest of the run, as a program
// started by the user should; numbers written through C++ streams keep the
// classic form. A caller that asks for none (LC_ALL, LC_TIME or LANG, the
// first that is set, naming "C", "C.UTF-8" or "POSIX") gets none, on every system.
void TakeUserLocale();

// The date in the user's short form ("12/9/2026", "09.12.2026"); empty when
// the user has no regional form of their own (the C or POSIX locale), so
// the caller writes its own.
std::string FormatLocalDate(int year, int month, int day);

// Reads a date the user wrote in their short form; false when the text is
// not one, or the user has no regional form of their own.
bool ReadLocalDate(const std::string& text, int& year, int& month, int& day);

}  // namespace platform
