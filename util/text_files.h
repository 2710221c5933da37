// Paths beside the program, text files, line breaks and display names: free
// functions without state, none of which throws.
#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

// Rewrites every line break of `text` towards CR LF in three replace-all
// passes: LF -> LF CR, CR CR -> CR, LF CR -> CR LF. Each pass resumes its
// search right after the text it searched for, so the net effect is not a
// plain "make everything CR LF": an existing CR LF becomes CR CR LF, a lone
// CR stays. Peers read the files this produces, so the rule is kept exactly.
// Done in one pass; a text the rule leaves as it is is not copied.
void NormalizeLineBreaks(std::string& text);

// False when NormalizeLineBreaks would leave `text` as it is (no line feed,
// no two carriage returns in a row).
bool LineBreaksNeedNormalizing(std::string_view text);

// Writes a normalised copy of `text` to `path`, replacing any existing file.
// True when the file was created and every byte written.
bool WriteTextFile(const std::string& path, const std::string& text,
                   platform::FileAccess access = platform::FileAccess::Shared);

// The folder of the running program followed by `name` unchanged; only `name`
// when the program's path holds no folder separator.
std::string PathBesideProgram(const std::string& name);

// First name, then " " + middle name if not empty, then " " + last name if not
// empty. Nothing is trimmed.
std::string DisplayName(const std::string& first, const std::string& middle, const std::string& last);

// `text` with every NUL byte replaced by U+FFFD (EF BF BD), the mark for a
// character that could not be read. Database statements are C strings: a
// NUL inside a value would end the statement early.
std::string WithoutNulBytes(std::string text);
