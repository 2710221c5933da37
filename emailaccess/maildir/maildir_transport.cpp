#include "emailaccess/maildir/maildir_transport.h"

#include "platform/directory.h"
#include "platform/durable_file.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/program_path.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>

namespace emailaccess {
namespace {

constexpr const char* kSubfolders[] = {"tmp", "new", "cur"};

// A name no other delivery uses: time, process, a counter, randomness and
// the host, as Maildir asks. '/', ':' and '!' are not allowed in it.
std::string UniqueName() {
  static std::atomic<unsigned> counter{0};
  static const unsigned long long salt = std::random_device{}();
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now).count();
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count() % 1000000;
  std::string host = platform::HostName();
  std::replace(host.begin(), host.end(), '/', '_');
  std::replace(host.begin(), host.end(), ':', '_');
  std::replace(host.begin(), host.end(), '!', '_');
  return std::to_string(seconds) + ".M" + std::to_string(micros) + "P" + std::to_string(platform::ProcessId()) +
         "Q" + std::to_string(counter++) + "R" + std::to_string(salt % 1000000007ULL) + "." + host;
}

// Where ':' cannot stand in a file name, the info part (":2,S") of the
// names this program writes starts with '!' instead, as other Maildir
// programs on such systems do.
char InfoSeparator() { return platform::NamesMayHoldColon() ? ':' : '!'; }

// Where the info part of a name begins: either separator is read, so a
// folder written on one system can be read on the other.
size_t InfoStart(const std::string& fileName) { return fileName.find_first_of(":!"); }

}  // namespace

std::string MaildirKey(const std::string& fileName) { return fileName.substr(0, InfoStart(fileName)); }

void MaildirFolder::Ensure() {
  for (const char* sub : kSubfolders) {
    std::string why;
    if (!platform::MakeDirectories(platform::JoinPath(m_path, sub), &why)) {
      throw TransportError("Maildir " + m_path + ": " + why, false);
    }
  }
}

std::string MaildirFolder::Deliver(const std::string& message) {
  Ensure();
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string name = UniqueName();
    const std::string tmp = platform::JoinPath(m_path, "tmp/" + name);
    const std::string target = platform::JoinPath(m_path, "new/" + name);
    std::string why;
    const platform::CreateResult created = platform::CreateNewFileDurably(tmp, message, &why);
    if (created == platform::CreateResult::Exists) continue;
    if (created != platform::CreateResult::Created) {
      throw TransportError("cannot deliver into " + m_path + ": " + why, created == platform::CreateResult::Busy);
    }
    platform::MoveResult moved = platform::MoveFileNoReplace(tmp, target, &why);
    if (moved == platform::MoveResult::Moved) return target;
    platform::RemoveFile(tmp);
    if (moved != platform::MoveResult::TargetExists) {
      throw TransportError("cannot deliver into " + m_path + ": " + why, false);
    }
  }
  throw TransportError("cannot deliver into " + m_path + ": no unique file name found", true);
}

std::vector<StoredMessage> MaildirFolder::List(std::map<std::string, std::string>* paths) {
  struct Found {
    StoredMessage message;
    std::string name;
  };
  std::vector<Found> found;
  for (const char* sub : {"new", "cur"}) {
    const std::string folder = platform::JoinPath(m_path, sub);
    if (!platform::IsDirectory(folder)) continue;
    std::vector<platform::DirectoryEntry> entries;
    std::string why;
    if (!platform::ListDirectory(folder, entries, &why)) throw TransportError("Maildir " + why, false);
    for (const auto& entry : entries) {
      // Maildir readers ignore dot files; they are not messages.
      if (!entry.regularFile || entry.name.empty() || entry.name[0] == '.') continue;
      found.push_back({StoredMessage{MaildirKey(entry.name), entry.modifiedNs, entry.size}, entry.name});
      if (paths) (*paths)[found.back().message.key] = platform::JoinPath(folder, entry.name);
    }
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.message.arrivalNs != b.message.arrivalNs ? a.message.arrivalNs < b.message.arrivalNs : a.name < b.name;
  });
  std::vector<StoredMessage> result;
  for (auto& f : found) result.push_back(std::move(f.message));
  return result;
}

std::string MaildirFolder::Locate(const std::string& key) {
  for (const char* sub : {"new", "cur"}) {
    const std::string folder = platform::JoinPath(m_path, sub);
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::ListDirectory(folder, entries)) continue;
    for (const auto& entry : entries) {
      if (entry.regularFile && MaildirKey(entry.name) == key) return platform::JoinPath(folder, entry.name);
    }
  }
  return std::string();
}

bool MaildirFolder::MoveTo(const std::string& key, MaildirFolder& target) { return MoveFileTo(Locate(key), key, target); }

bool MaildirFolder::MoveFileTo(const std::string& from, const std::string& key, MaildirFolder& target, bool seen) {
  if (from.empty()) return false;
  target.Ensure();
  std::string name = from.substr(from.find_last_of(platform::PathSeparator()) + 1);
  // Filed under this system's separator, keeping the flags the name has.
  const size_t info = InfoStart(name);
  std::string flags = info == std::string::npos || name.compare(info + 1, 2, "2,") != 0 ? "2,S" : name.substr(info + 1);
  if (!seen) std::erase(flags, 'S');
  name = key + InfoSeparator() + flags;
  std::string to = platform::JoinPath(target.path(), "cur/" + name);
  std::string why;
  platform::MoveResult result = platform::MoveFileNoReplace(from, to, &why);
  if (result == platform::MoveResult::TargetExists) {
    // A message of the same name was moved there before (a copy put back
    // into the Inbox): both are kept, this one under a new unique name.
    name = UniqueName() + name.substr(InfoStart(name));
    to = platform::JoinPath(target.path(), "cur/" + name);
    result = platform::MoveFileNoReplace(from, to, &why);
  }
  switch (result) {
    case platform::MoveResult::Moved:
      // A message delivered readable to others is filed private like the
      // ones this program writes.
      platform::MakeOwnerOnly(to);
      return true;
    case platform::MoveResult::SourceMissing:
      return false;
    case platform::MoveResult::CrossDevice: {
      // Folders on different file systems: copy into the target the Maildir
      // way, and only then take the original away.
      std::string data;
      if (!platform::ReadWholeFile(from, data, &why)) throw TransportError(why, false);
      const std::string tmp = platform::JoinPath(target.path(), "tmp/" + name);
      if (platform::CreateNewFileDurably(tmp, data, &why) != platform::CreateResult::Created) {
        throw TransportError(why, false);
      }
      if (platform::MoveFileNoReplace(tmp, to, &why) != platform::MoveResult::Moved) {
        platform::RemoveFile(tmp);
        throw TransportError(why, false);
      }
      platform::RemoveFile(from);
      return true;
    }
    default:
      throw TransportError(why, platform::IsHeldByAnotherProgram(from));
  }
}

void MaildirFolder::Check(const std::string& role, std::vector<CheckFinding>& findings, bool countMessages) {
  const std::string label = role + " (" + m_path + "): ";
  if (!platform::FileExists(m_path)) {
    findings.push_back({true, label + "not there yet, created on first use"});
    return;
  }
  if (!platform::IsDirectory(m_path)) {
    findings.push_back({false, label + "exists but is not a folder"});
    return;
  }
  for (const char* sub : kSubfolders) {
    const std::string folder = platform::JoinPath(m_path, sub);
    if (platform::FileExists(folder) && !platform::IsWritableDirectory(folder)) {
      findings.push_back({false, label + sub + "/ is not a writable folder"});
      return;
    }
  }
  if (!platform::IsWritableDirectory(m_path)) {
    findings.push_back({false, label + "not writable"});
    return;
  }
  std::string text = label + "ok";
  if (countMessages) text += ", " + std::to_string(List().size()) + " message(s) waiting";
  findings.push_back({true, text});
}

MaildirTransport::MaildirTransport(const MaildirSettings& settings)
    : m_outbox(settings.outbox), m_inbox(settings.inbox) {
  for (const FolderInfo& folder : kFolders) m_folders[folder.folder].emplace(settings.folders[folder.folder]);
}

std::string MaildirTransport::Send(const std::string&, const std::string& message) { return m_outbox.Deliver(message); }

std::vector<StoredMessage> MaildirTransport::ListWaiting(const std::string&) {
  m_inbox.Ensure();
  m_listed.clear();
  return m_inbox.List(&m_listed);
}

std::string MaildirTransport::PathOf(const std::string& key) {
  auto known = m_listed.find(key);
  if (known == m_listed.end() || !platform::FileExists(known->second)) {
    // Not listed yet, or a mail program renamed it since (new/ to cur/,
    // flags): one fresh listing finds it.
    m_listed.clear();
    if (platform::IsDirectory(m_inbox.path())) m_inbox.List(&m_listed);
    known = m_listed.find(key);
    if (known == m_listed.end()) return std::string();
  }
  return known->second;
}

bool MaildirTransport::IsWaiting(const std::string& key) { return !PathOf(key).empty(); }

std::string MaildirTransport::Read(const std::string& key) {
  const std::string path = PathOf(key);
  if (path.empty()) throw TransportError("message " + key + " is no longer in " + m_inbox.path(), false);
  std::string data, why;
  // A message another program holds (a scanner) can be read on a later run.
  if (!platform::ReadWholeFile(path, data, &why)) throw TransportError(why, platform::IsHeldByAnotherProgram(path));
  return data;
}

bool MaildirTransport::Move(const std::string& key, Folder folder) {
  const bool moved = m_inbox.MoveFileTo(PathOf(key), key, *m_folders[folder], !InfoOf(folder).forPerson);
  m_listed.erase(key);
  return moved;
}

void MaildirTransport::Check(std::vector<CheckFinding>& findings) {
  m_outbox.Check("Outbox", findings, false);
  m_inbox.Check("Inbox", findings, true);
  for (const FolderInfo& folder : kFolders) m_folders[folder.folder]->Check(folder.name, findings, folder.forPerson);
}

}  // namespace emailaccess
