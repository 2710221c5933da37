// The readable text of an HTML mail part, with libxml2's HTML parser.
//
// Block elements and <br> become line breaks, script, style and the head are
// dropped, runs of white space collapse as a browser shows them (except in
// <pre>), entities are decoded after the tags are gone (a typed "&lt;answer1&gt;"
// comes out as "<answer1>"), and non-breaking spaces become plain spaces.
// The result is UTF-8 with LF line breaks. Broken HTML is read as well as it
// can be; the function never fails.
#pragma once

#include <string>
#include <string_view>

namespace emailaccess {

// `html` must already be UTF-8.
std::string HtmlToText(std::string_view html);

}  // namespace emailaccess
