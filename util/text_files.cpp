#include "util/text_files.h"

#include "platform/files.h"
#include "platform/program_path.h"

void NormalizeLineBreaks(std::string& text) {
  // Each pass is done in one linear sweep that reproduces what a search-and-
  // replace loop resuming at (match + length of the searched text) produces.
  std::string out;
  out.reserve(text.size() + text.size() / 8 + 16);

  // Pass 1: LF -> LF CR.
  for (char c : text) {
    out.push_back(c);
    if (c == '\n') out.push_back('\r');
  }
  text.swap(out);
  out.clear();

  // Pass 2: CR CR -> CR. The search resumes two characters after the match
  // in the shortened text, so the character following the pair is copied
  // without being looked at as the start of another pair.
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\r') {
      out.push_back('\r');
      if (i + 2 < text.size()) out.push_back(text[i + 2]);
      i += 3;
    } else {
      out.push_back(text[i]);
      ++i;
    }
  }
  text.swap(out);
  out.clear();

  // Pass 3: LF CR -> CR LF (same length, plain left-to-right).
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r') {
      out.push_back('\r');
      out.push_back('\n');
      i += 2;
    } else {
      out.push_back(text[i]);
      ++i;
    }
  }
  text.swap(out);
}

bool WriteTextFile(const std::string& path, const std::string& text, platform::FileAccess access) {
  std::string copy = text;
  NormalizeLineBreaks(copy);
  return platform::WriteWholeFile(path, copy, nullptr, access);
}

std::string PathBesideProgram(const std::string& name) {
  std::string program = platform::RunningProgramPath();
  size_t cut = program.find_last_of(platform::PathSeparator());
  if (cut == std::string::npos) return name;
  return program.substr(0, cut + 1) + name;
}

std::string DisplayName(const std::string& first, const std::string& middle, const std::string& last) {
  std::string name = first;
  if (!middle.empty()) name += " " + middle;
  if (!last.empty()) name += " " + last;
  return name;
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
