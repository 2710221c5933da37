#include "util/text_files.h"

#include "platform/files.h"
#include "platform/program_path.h"

namespace {

// The three passes of the rule as stages of one pipeline: each stage hands
// what its pass would have written to the next, so the text is read once.
// The last stage writes the result.

// Pass 3, LF CR -> CR LF: a line feed is held back until the next character
// shows whether it opens a pair.
class SwapLfCr {
 public:
  explicit SwapLfCr(std::string& out) : m_out(out) {}
  void Put(char c) {
    if (m_heldLf) {
      m_heldLf = false;
      if (c == '\r') {
        m_out += "\r\n";
        return;
      }
      m_out.push_back('\n');
    }
    if (c == '\n') {
      m_heldLf = true;
    } else {
      m_out.push_back(c);
    }
  }
  void Finish() {
    if (m_heldLf) m_out.push_back('\n');
    m_heldLf = false;
  }

 private:
  std::string& m_out;
  bool m_heldLf = false;
};

// Pass 2, CR CR -> CR: the search resumes two characters after the match in
// the shortened text, so the character after a collapsed pair is passed on
// without being looked at as the start of another pair.
class CollapseCrCr {
 public:
  explicit CollapseCrCr(std::string& out) : m_next(out) {}
  void Put(char c) {
    if (m_passNext) {
      m_passNext = false;
      m_next.Put(c);
      return;
    }
    if (m_heldCr) {
      m_heldCr = false;
      m_next.Put('\r');
      if (c == '\r') {
        m_passNext = true;
        return;
      }
    }
    if (c == '\r') {
      m_heldCr = true;
    } else {
      m_next.Put(c);
    }
  }
  void Finish() {
    if (m_heldCr) m_next.Put('\r');
    m_heldCr = false;
    m_passNext = false;
    m_next.Finish();
  }

 private:
  SwapLfCr m_next;
  bool m_heldCr = false;
  bool m_passNext = false;
};

}  // namespace

bool text_files_detail::NeedsNormalizingFrom(std::string_view text, size_t firstBreak) {
  // Without a line feed the first and third passes find nothing, and without
  // two carriage returns in a row neither does the second.
  for (size_t at = firstBreak; at != text.size(); at = FindLineBreak(text, at + 1)) {
    if (text[at] == '\n' || (at + 1 < text.size() && text[at + 1] == '\r')) return true;
  }
  return false;
}

void NormalizeLineBreaksInto(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size() + text.size() / 4 + 16);
  CollapseCrCr passes(out);
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    const char c = *p++;
    // Pass 1, LF -> LF CR, feeding the other two.
    passes.Put(c);
    if (c == '\n') {
      passes.Put('\r');
      continue;
    }
    if (c == '\r') continue;
    // Any other character makes every stage hand on what it held and none
    // holds anything after it, so the characters up to the next break go
    // to the result as they are, in one piece.
    const char* const run = p;
    p = text.data() + text_files_detail::FindLineBreak(text, static_cast<size_t>(p - text.data()));
    out.append(run, static_cast<size_t>(p - run));
  }
  passes.Finish();
}

void NormalizeLineBreaks(std::string& text) {
  if (!LineBreaksNeedNormalizing(text)) return;
  std::string out;
  NormalizeLineBreaksInto(text, out);
  text.swap(out);
}

bool WriteTextFile(const std::string& path, const std::string& text, platform::FileAccess access, std::string* error) {
  std::string copy = text;
  NormalizeLineBreaks(copy);
  return platform::WriteWholeFile(path, copy, error, access);
}

std::string PathBesideProgram(const std::string& name) { return platform::FileBesideRunningProgram(name); }

std::string DisplayName(const std::string& first, const std::string& middle, const std::string& last) {
  std::string name = first;
  if (!middle.empty()) name += " " + middle;
  if (!last.empty()) name += " " + last;
  return name;
}

std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return std::string_view();
  return text.substr(begin, text.find_last_not_of(kBlanks) + 1 - begin);
}

std::string WithoutNulBytes(std::string text) {
  if (text.find('\0') == std::string::npos) return text;
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\0') {
      out += "\xEF\xBF\xBD";
    } else {
      out.push_back(c);
    }
  }
  return out;
}
