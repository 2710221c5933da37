// The folders a message of the mailbox is filed into once dealt with, as
// data. Every store, the settings (their keys and defaults, the --check
// report) and the intake walk this one table, so a further folder is one
// row here and one value in the enumeration.
//
// A folder's name serves people (logs, --check) and is also its name by
// default: on an IMAP server and in Outlook as it stands, under Mail/ beside
// the program for local folders.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace emailaccess {

enum class Folder { Processed, Skipped, Undeliverable, NeedsReading };

struct FolderInfo {
  Folder folder;
  const char* name;        // "Needs reading"
  const char* settingKey;  // "needs_reading", in [maildir] and [imap]
  // Left unread for a person (a reply LvMAPI stored nothing from); --check
  // counts what waits there.
  bool forPerson;
};

// In the order of the enumeration.
inline constexpr std::array<FolderInfo, 4> kFolders = {{
    {Folder::Processed, "Processed", "processed", false},            // replies LvMAPI consumed
    {Folder::Skipped, "Skipped", "skipped", false},                  // automatic mail, delay reports
    {Folder::Undeliverable, "Undeliverable", "undeliverable", false},  // reports of mailings that failed for good
    {Folder::NeedsReading, "Needs reading", "needs_reading", true},  // replies LvMAPI stored nothing from
}};

constexpr bool FoldersInOrder() {
  for (std::size_t i = 0; i < kFolders.size(); ++i) {
    if (static_cast<std::size_t>(kFolders[i].folder) != i) return false;
  }
  return true;
}
static_assert(FoldersInOrder(), "kFolders lists the folders in the order of the enumeration");

constexpr const FolderInfo& InfoOf(Folder folder) { return kFolders[static_cast<std::size_t>(folder)]; }

// One value per folder (a path, a name on the server, an opened folder).
template <typename T>
class PerFolder {
 public:
  T& operator[](Folder folder) { return m_values[static_cast<std::size_t>(folder)]; }
  const T& operator[](Folder folder) const { return m_values[static_cast<std::size_t>(folder)]; }

 private:
  std::array<T, kFolders.size()> m_values{};
};

}  // namespace emailaccess
