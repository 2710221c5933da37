// The hand-back: what LvMAPI made of each reply of an incoming exchange file,
// told back to the mail-access program so that it files every reply where it
// belongs (a reply nothing was stored from goes to a person, not away).
//
// LvMAPI writes it beside the exchange file, under the exchange file's name
// followed by ".handback", after it has handed every reply over and before
// it deletes the exchange file: a consumed exchange file with a hand-back
// beside it says reply by reply what was stored; one without (an older
// LvMAPI) means every reply was. The text is a header line and one line per
// reply, "<number><TAB>stored" or "<number><TAB>unread", numbered as the
// exchange file numbers its replies. Only numbers and these two words are
// written, nothing of what people wrote.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace exchange {

inline constexpr const char kHandBackSuffix[] = ".handback";

// The hand-back that belongs to `exchangeFile`.
std::string HandBackPath(const std::string& exchangeFile);

// The text for replies 1, 2, ... in order: whether each was stored (now or
// before).
std::string FormatHandBack(const std::vector<bool>& stored);

// Reads a hand-back's text into `stored` (reply number -> stored). False when
// the text does not begin with the header, with `stored` empty. A line that
// is not "<number><TAB>stored|unread" with a number from 1 up is left out,
// so its reply counts as not told.
bool ParseHandBack(std::string_view text, std::map<int, bool>& stored);

}  // namespace exchange
