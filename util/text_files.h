// Paths beside the program, text files, line breaks and display names: free
// functions without state, none of which throws.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/files.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Rewrites every line break of `text` towards CR LF in three replace-all
// passes: LF -> LF CR, CR CR -> CR, LF CR -> CR LF. Each pass resumes its
// search right after the text it searched for, so the net effect is not a
// plain "make everything CR LF": an existing CR LF becomes CR CR LF, a lone
// CR stays. Peers read the files this produces, so the rule is kept exactly.
// Done in one pass; a text the rule leaves as it is is not copied.
void NormalizeLineBreaks(std::string& text);

// Replaces the content of `out` with `text` normalised as NormalizeLineBreaks
// does, keeping the room `out` already has: a reader that normalises value
// after value into one buffer allocates nothing once it is large enough.
// `text` must not point into `out`.
void NormalizeLineBreaksInto(std::string_view text, std::string& out);

namespace text_files_detail {

// The index of the first LF or CR of `text` at or after `from`, or the size
// of `text` when there is none. Nearly every value the database reader hands
// on holds neither, and it asks this of every one: sixteen bytes are compared
// at a time where the processor has the instructions for it, and eight (the
// lowest byte that subtracting one from each byte makes borrow is the first
// equal one) where not; whatever is left over, a last block overlapping what
// was seen covers, its seen bytes masked off.
inline size_t FindLineBreak(std::string_view text, size_t from = 0) {
  const char* const p = text.data();
  const size_t n = text.size();
  size_t i = from;
  if constexpr (std::endian::native == std::endian::little) {
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const auto blockBreaks = [&](size_t at) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
      return static_cast<unsigned>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr))));
    };
    if (n >= 16 && i < n) {
      for (; i + 16 <= n; i += 16) {
        if (const unsigned mask = blockBreaks(i)) return i + static_cast<size_t>(std::countr_zero(mask));
      }
      if (i == n) return n;
      const size_t seen = i - (n - 16);
      const unsigned mask = blockBreaks(n - 16) >> seen;
      return mask ? i + static_cast<size_t>(std::countr_zero(mask)) : n;
    }
#endif
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kHighBits = 0x8080808080808080u;
    const auto wordBreaks = [p](size_t at) {
      uint64_t word;
      std::memcpy(&word, p + at, 8);
      const uint64_t lf = word ^ (kOnes * '\n');
      const uint64_t cr = word ^ (kOnes * '\r');
      return (((lf - kOnes) & ~lf) | ((cr - kOnes) & ~cr)) & kHighBits;
    };
    if (n >= 8 && i < n) {
      for (; i + 8 <= n; i += 8) {
        if (const uint64_t mask = wordBreaks(i)) return i + static_cast<size_t>(std::countr_zero(mask)) / 8;
      }
      if (i == n) return n;
      const size_t seen = i - (n - 8);
      const uint64_t mask = wordBreaks(n - 8) >> (8 * seen);
      return mask ? i + static_cast<size_t>(std::countr_zero(mask)) / 8 : n;
    }
  }
  for (; i < n; ++i) {
    if (p[i] == '\n' || p[i] == '\r') return i;
  }
  return n;
}

// Whether the rule changes `text`, given that its first break is at
// `firstBreak`: the rest of LineBreaksNeedNormalizing, out of line as it is
// seldom needed.
bool NeedsNormalizingFrom(std::string_view text, size_t firstBreak);

}  // namespace text_files_detail

// False when NormalizeLineBreaks would leave `text` as it is (no line feed,
// no two carriage returns in a row).
inline bool LineBreaksNeedNormalizing(std::string_view text) {
  const size_t firstBreak = text_files_detail::FindLineBreak(text);
  return firstBreak != text.size() && text_files_detail::NeedsNormalizingFrom(text, firstBreak);
}

// Writes a normalised copy of `text` to `path`, replacing any existing file.
// True when the file was created and every byte written; otherwise `error`
// (when given) says why.
bool WriteTextFile(const std::string& path, const std::string& text,
                   platform::FileAccess access = platform::FileAccess::Shared, std::string* error = nullptr);

// `name` beside the running program, where it is read and written (see
// platform::FileBesideRunningProgram: the program's folder, or its
// VirtualStore); only `name` when the program's path holds no folder
// separator.
std::string PathBesideProgram(const std::string& name);

// First name, then " " + middle name if not empty, then " " + last name if not
// empty. Nothing is trimmed.
std::string DisplayName(const std::string& first, const std::string& middle, const std::string& last);

// `text` without the blanks (space, tab, CR, LF) at either end.
std::string_view TrimBlanks(std::string_view text);

// `text` with every NUL byte replaced by U+FFFD (EF BF BD), the mark for a
// character that could not be read. Database statements are C strings: a
// NUL inside a value would end the statement early.
std::string WithoutNulBytes(std::string text);
