// Identifiers, quoting, tag extraction and reading numbers held as text: free
// functions without state, none of which fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Stands for "no object" where an identifier is required.
inline constexpr const char kSentinelGuid[] = "0FACADE0-DEAD-DEAD-DEAD-0FADEDFADED0";

// GUIDs are held as text. A new one is in registry form (braces, upper case):
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string NewGuidString();

// True when both texts name the same GUID: one closing brace at the end and
// then one opening brace at the start are dropped from each, and the rest is
// compared without regard to letter case.
bool SameGuid(const std::string& a, const std::string& b);
// The form SameGuid compares: braces dropped as above, letters in lower
// case. Equal keys name the same GUID, so identifiers can be looked up.
std::string GuidKey(const std::string& id);

// The address of a mailbox written "Name <address>" or bare: what stands
// between the last "<" and the ">" after it, else the whole text, without
// the blanks at its ends.
std::string_view MailAddressOf(std::string_view mailbox);
// True when both mailboxes (as MailAddressOf reads them) name one address,
// as mail delivers it: the local part (before the last "@") exactly, the
// domain without regard to letter case. A text without "@", or with nothing
// on either side of it, is no address and matches nothing.
bool SameMailAddress(std::string_view a, std::string_view b);

// Finds the first `openTag` and the first `closeTag`, both searched from the
// start of `text`. `value` receives what lies between them (everything after
// the opening tag when the closing tag comes first) less its leading spaces;
// tabs, line breaks and trailing spaces stay. False, with `value` empty, when
// either tag is missing.
bool ExtractBetween(const std::string& text, const std::string& openTag, const std::string& closeTag,
                    std::string& value);

// The value of a tag a person fills in (an answer, a status, a comment) as
// replies are really written: the first pair as ExtractBetween finds it, but
// where that pair holds only blanks (spaces, tabs, line breaks, non-breaking
// spaces), as the blank form quoted above an inline answer does, the next
// pair of the same tags that holds something, and so on. Empty when no pair
// holds anything. The value loses the blanks at both of its ends: they are
// the form's own padding ("<answer1>  </answer1>"), which whoever types
// where the form stands leaves around the answer; inner line breaks stay.
std::string ExtractTypedValue(const std::string& text, const std::string& openTag, const std::string& closeTag);

// The value of the first pair of tags on a line the writer typed that holds
// something (blanks at both ends removed, as ExtractTypedValue), or empty. Pairs on quoted lines (the
// first character that is not a blank is ">") are passed over, and so is the
// pair on a line that starts "Example:", quoted or not: the instructions'
// own example, which a reply quoting the whole message in Outlook's way
// carries without quote marks.
std::string ExtractFromTypedLines(const std::string& text, const std::string& openTag, const std::string& closeTag);

// The element <name>...</name> as ExtractBetween finds it.
bool GetTagValue(const std::string& text, const std::string& name, std::string& value);
// The element <name>...</name> as a person typed it (ExtractTypedValue).
std::string TypedTagValue(const std::string& text, const std::string& name);

// Doubles every single quote, as a quoted SQL literal needs.
void DoubleSingleQuotes(std::string& text);
// `text` with every single quote doubled, for a quoted SQL literal.
std::string WithQuotesDoubled(std::string text);

// Leading decimal digits (after blanks and an optional sign) as a number, 0
// when there are none; values beyond the 32-bit range are clamped. This is
// atoi's reading without its undefined overflow.
int32_t LeadingInteger(const std::string& text);
// True when LeadingInteger finds digits in `text`: a number, and not a
// word read as 0.
bool HasLeadingInteger(const std::string& text);
