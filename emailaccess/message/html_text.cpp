#include "emailaccess/message/html_text.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace emailaccess {
namespace {

bool NameIn(const xmlChar* name, std::initializer_list<const char*> names) {
  const char* n = reinterpret_cast<const char*>(name);
  return std::any_of(names.begin(), names.end(), [n](const char* candidate) { return std::strcmp(n, candidate) == 0; });
}

bool IsDropped(const xmlChar* name) { return NameIn(name, {"script", "style", "head", "title", "template"}); }

bool IsBlock(const xmlChar* name) {
  return NameIn(name, {"p",       "div",    "h1",      "h2",     "h3",     "h4",      "h5",   "h6",
                       "ul",      "ol",     "li",      "dl",     "dt",     "dd",      "table", "tr",
                       "thead",   "tbody",  "tfoot",   "blockquote", "pre", "hr",     "address", "center",
                       "section", "article", "header", "footer", "nav",    "aside",   "form", "fieldset",
                       "figure",  "figcaption", "main", "caption", "body", "html"});
}

class TextCollector {
 public:
  void Walk(xmlNode* node, bool preformatted) {
    for (; node; node = node->next) {
      if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
        AddText(reinterpret_cast<const char*>(node->content), preformatted);
      } else if (node->type == XML_ELEMENT_NODE) {
        if (IsDropped(node->name)) continue;
        if (NameIn(node->name, {"br"})) {
          Break();
          continue;
        }
        const bool block = IsBlock(node->name);
        if (block) EndLine();
        // Cells of a row stay on one line, apart.
        if (NameIn(node->name, {"td", "th"}) && !AtLineStart()) m_pendingSpace = true;
        Walk(node->children, preformatted || NameIn(node->name, {"pre"}));
        if (block) EndLine();
      }
    }
  }

  std::string Finish() {
    // Trailing blanks of each line and blank lines at the ends go; more than
    // one empty line in a row becomes one.
    std::string out;
    size_t newlines = 0;
    size_t pos = 0;
    while (pos <= m_text.size()) {
      size_t end = m_text.find('\n', pos);
      if (end == std::string::npos) end = m_text.size();
      std::string line = m_text.substr(pos, end - pos);
      line.erase(line.find_last_not_of(' ') + 1);
      pos = end + 1;
      if (line.empty()) {
        ++newlines;
        continue;
      }
      if (!out.empty()) out.append(std::min<size_t>(newlines, 2), '\n');
      out += line;
      newlines = 1;
    }
    return out;
  }

 private:
  bool AtLineStart() const { return m_text.empty() || m_text.back() == '\n'; }

  void Break() {
    m_text.push_back('\n');
    m_pendingSpace = false;
  }

  void EndLine() {
    if (!AtLineStart()) Break();
    m_pendingSpace = false;
  }

  void AddText(const char* text, bool preformatted) {
    if (!text) return;
    for (const char* p = text; *p; ++p) {
      // U+00A0, the non-breaking space, is a plain space in the text.
      if (static_cast<unsigned char>(p[0]) == 0xC2 && static_cast<unsigned char>(p[1]) == 0xA0) {
        AddChar(' ');
        ++p;
        continue;
      }
      char c = *p;
      if (preformatted) {
        if (c == '\r') continue;
        if (c == '\n') {
          Break();
        } else {
          AddChar(c);
        }
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
        if (!AtLineStart()) m_pendingSpace = true;
      } else {
        AddChar(c);
      }
    }
  }

  void AddChar(char c) {
    if (m_pendingSpace) {
      m_text.push_back(' ');
      m_pendingSpace = false;
    }
    m_text.push_back(c);
  }

  std::string m_text;
  bool m_pendingSpace = false;
};

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

}  // namespace

std::string HtmlToText(std::string_view html) {
  if (html.empty()) return std::string();
  // The text is UTF-8 by now; a <meta charset> inside must not make the
  // parser read it as something else.
  std::unique_ptr<xmlDoc, DocFree> doc(htmlReadMemory(
      html.data(), static_cast<int>(std::min<size_t>(html.size(), 0x7fffffff)), nullptr, "UTF-8",
      HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC));
  if (!doc) return std::string();
  TextCollector collector;
  collector.Walk(xmlDocGetRootElement(doc.get()), false);
  return collector.Finish();
}

}  // namespace emailaccess
