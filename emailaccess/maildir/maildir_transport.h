// Local Maildir folders as the mail system: the embedded default transport.
//
// Sending delivers into the outbox Maildir; replies are read from the inbox
// Maildir (its new/ and cur/), and moved into the Maildir of their folder
// (folders.h). A Maildir is a folder with tmp/, new/ and cur/; messages are
// written into tmp/ and then renamed into new/, so no reader ever sees half a
// message. Folders are created on first use (never by Check). A message's
// key is its file name up to the ":" that starts the flags, so a mail program
// marking it read does not lose it. Arrival order is the order of the files'
// modification times (delivery keeps them; ties go by name).
#pragma once

#include "emailaccess/config.h"
#include "emailaccess/transport.h"

#include <map>
#include <optional>

namespace emailaccess {

class MaildirFolder {
 public:
  explicit MaildirFolder(std::string path) : m_path(std::move(path)) {}

  const std::string& path() const { return m_path; }

  // Creates the folder with tmp/, new/ and cur/ where missing.
  void Ensure();
  // Writes the message into tmp/ and renames it into new/. Returns its path.
  std::string Deliver(const std::string& message);
  // Messages in new/ and cur/, in order of arrival; `paths`, when given,
  // receives each key's current full path.
  std::vector<StoredMessage> List(std::map<std::string, std::string>* paths = nullptr);
  // The message's current full path, or empty when it is not here.
  std::string Locate(const std::string& key);
  // Moves the message into `target`'s cur/, marked as seen (or, without
  // `seen`, as not seen). False when it is not here.
  bool MoveTo(const std::string& key, MaildirFolder& target);
  // The same for a message whose current path is known (empty: not here).
  bool MoveFileTo(const std::string& path, const std::string& key, MaildirFolder& target, bool seen = true);
  void Check(const std::string& role, std::vector<CheckFinding>& findings, bool countMessages);

 private:
  std::string m_path;
};

class MaildirTransport : public IMailSender, public IMailStore {
 public:
  explicit MaildirTransport(const MaildirSettings& settings);

  std::string Send(const std::string& recipient, const std::string& message) override;
  std::string Route() const override { return "delivered into the local folder " + m_outbox.path(); }
  std::vector<StoredMessage> ListWaiting(const std::string& subject) override;
  bool IsWaiting(const std::string& key) override;
  std::string Read(const std::string& key) override;
  bool Move(const std::string& key, Folder folder) override;
  void Check(std::vector<CheckFinding>& findings) override;

 private:
  // The inbox path of a key, from one listing rather than a search per
  // message; empty when the message is no longer there.
  std::string PathOf(const std::string& key);

  MaildirFolder m_outbox, m_inbox;
  PerFolder<std::optional<MaildirFolder>> m_folders;  // all set by the constructor
  std::map<std::string, std::string> m_listed;  // key -> path at the last listing
};

// The unique part of a Maildir file name: everything before its ":" (or the
// "!" that stands for it where names cannot hold a colon).
std::string MaildirKey(const std::string& fileName);

}  // namespace emailaccess
