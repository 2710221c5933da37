// Ownership of GLib and GMime objects, and the library's one-time set-up.
//
// GObjectPtr<T> owns one reference of a GObject and drops it when destroyed;
// GCharPtr owns a string that GLib allocated. EnsureGMime() initialises GMime
// once per process (from any caller, any number of times); the parser options
// it returns are shared, read-only, and live until the process ends.
#pragma once

#include <gmime/gmime.h>

#include <memory>
#include <string_view>

namespace emailaccess {

struct GObjectUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(void* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

struct GDateTimeUnref {
  void operator()(GDateTime* d) const {
    if (d) g_date_time_unref(d);
  }
};
using GDateTimePtr = std::unique_ptr<GDateTime, GDateTimeUnref>;

struct FormatOptionsFree {
  void operator()(GMimeFormatOptions* o) const { g_mime_format_options_free(o); }
};
using FormatOptionsPtr = std::unique_ptr<GMimeFormatOptions, FormatOptionsFree>;

// Initialises GMime on first use.
void EnsureGMime();

// Parser options for mail as it arrives: loose about standards, and raw
// 8-bit header text read as UTF-8 with Windows-1252 as the fallback.
GMimeParserOptions* IncomingParserOptions();

// A raw message as it arrives, parsed with IncomingParserOptions; null when
// GMime cannot read it at all. GMime builds every part before anyone looks
// at one, at about a kilobyte each, so a few megabytes of empty parts would
// take gigabytes: of a message with more lines that could open a part than
// any mail program writes, only the start is read, up to the line that
// passes the limit, and `partsCut` is set.
GObjectPtr<GMimeMessage> ParseIncomingMessage(std::string_view raw, bool& partsCut);
// The start of `raw` that ParseIncomingMessage reads, for a reader with a
// parser of its own.
std::string_view WithinPartLimit(std::string_view raw, bool& partsCut);

// Calls `visit` with every object of the tree below `object` that is not a
// multipart (parts and attached messages), in document order, going at most
// `maxDepth` multiparts deep: a message nested without end cannot exhaust
// the stack.
template <typename Visit>
void ForEachLeaf(GMimeObject* object, int maxDepth, Visit&& visit, int depth = 0) {
  if (!object || depth > maxDepth) return;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
      ForEachLeaf(g_mime_multipart_get_part(multipart, i), maxDepth, visit, depth + 1);
    }
    return;
  }
  visit(object);
}

// The first object of the tree from `object` down, `object` included, in
// document order, for which `matches` is true; going at most `maxDepth`
// levels deep, into multiparts and, with `intoAttachedMessages`, into
// attached messages too. Null when none matches.
template <typename Match>
GMimeObject* FindInTree(GMimeObject* object, int maxDepth, bool intoAttachedMessages, Match&& matches,
                        int depth = 0) {
  if (!object || depth > maxDepth) return nullptr;
  if (matches(object)) return object;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
      GMimeObject* found =
          FindInTree(g_mime_multipart_get_part(multipart, i), maxDepth, intoAttachedMessages, matches, depth + 1);
      if (found) return found;
    }
  } else if (intoAttachedMessages && GMIME_IS_MESSAGE_PART(object)) {
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    if (inner) return FindInTree(g_mime_message_get_mime_part(inner), maxDepth, true, matches, depth + 1);
  }
  return nullptr;
}

// Format options for mail we write: CR LF line ends.
FormatOptionsPtr CrlfFormatOptions();

}  // namespace emailaccess
