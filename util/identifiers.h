// Identifiers, quoting and tag extraction.
//
// GUIDs are held as text. New ones are in registry form (braces, upper case);
// comparisons ignore braces and letter case. Free functions without state;
// none fails.
#pragma once

#include <string>

// Stands for "no object" where an identifier is required.
inline constexpr const char kSentinelGuid[] = "0FACADE0-DEAD-DEAD-DEAD-0FADEDFADED0";

// A new GUID in registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string NewGuidString();

// True when both texts name the same GUID: one closing brace at the end and
// then one opening brace at the start are dropped from each, and the rest is
// compared without regard to letter case.
bool SameGuid(const std::string& a, const std::string& b);

// Finds the first `openTag` and the first `closeTag`, both searched from the
// start of `text`. `value` receives what lies between them (everything after
// the opening tag when the closing tag comes first) less its leading spaces;
// tabs, line breaks and trailing spaces stay. False, with `value` empty, when
// either tag is missing.
bool ExtractBetween(const std::string& text, const std::string& openTag, const std::string& closeTag,
                    std::string& value);

// Doubles every single quote, as a quoted SQL literal needs.
void DoubleSingleQuotes(std::string& text);
