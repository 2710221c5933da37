// A command line written as one text (a setting naming a program to run with
// its arguments), split into the program and its arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace command_words {

// Splits `text` at blanks and tabs; "double quotes" keep blanks inside one
// word and are dropped, and "" is an empty word. False for an unclosed
// quote.
bool Split(std::string_view text, std::vector<std::string>& words);

}  // namespace command_words
