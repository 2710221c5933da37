// The text of incoming mail: a part's content with its transfer encoding
// undone, in UTF-8, and of a whole message the best plain text a person
// typed (the plain alternative, its soft breaks and the wrapping a mail
// program added undone, else the text of the HTML). Nothing here throws.
#pragma once

#include "emailaccess/message/gmime_support.h"

#include <string>
#include <string_view>

namespace emailaccess {

// A part's content with its transfer encoding undone; the same as UTF-8
// text in the charset the part declares (CharsetToUtf8).
// DecodedContent with `storage` gives a view: of the parsed bytes for
// content as the message carries it (7bit, 8bit, binary), of `storage` for
// what had to be decoded, so a reader that only looks needs no copy.
std::string DecodedContent(GMimePart* part);
std::string_view DecodedContent(GMimePart* part, std::string& storage);
std::string PartText(GMimePart* part);

// The best plain text of the tree below `top`, UTF-8 with CR LF line
// breaks: the first text/plain leaf that is no attachment (format=flowed
// unflowed, or rejoined where its HTML alternative shows a mail program
// wrapped it), else the first text/html leaf's text; empty when there is
// neither.
std::string BestPlainText(GMimeObject* top);

// Joins the soft line breaks of format=flowed text (lines ending in a blank,
// with the same quote depth as the next line) and undoes space-stuffing.
// With `deleteSpace` (delsp=yes) the blank before a soft break is dropped.
// The signature separator "-- " never flows. Input and output use LF.
std::string UnflowText(std::string_view text, bool deleteSpace);

// Undoes the wrapping of a text alternative that a mail program made from
// its HTML alternative (Gmail wraps at about 76 columns; the HTML keeps each
// typed line whole). `htmlText` is the HTML's text (HtmlToText). When both
// carry the same words, quote marks aside, and the text breaks a line where
// the HTML has no break, between two lines of the same quote depth, those
// lines are joined with one blank (a continuation line loses its quote
// marks). Any other difference (a word, a break only the HTML has, a blank
// line the HTML lacks) means the text is not merely the HTML wrapped: it is
// returned as it is. Input and output use LF. BestPlainText reads the HTML
// for it only when the text may have been wrapped: a line that, with the
// first word of the next line of the same quote depth, passes 64 columns
// (mail programs wrap at 72 to 80).
std::string RejoinWrappedLines(std::string_view text, std::string_view htmlText);

}  // namespace emailaccess
