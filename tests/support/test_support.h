// Helpers shared by the test suites: scratch folders that clean up after
// themselves, copies of the install folder, child processes with their output
// captured (run to their end, or started and later signalled), and SQLite
// databases made from the project's schema, also held locked by another
// process.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object is destroyed.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Copies the built programs and libraries (build/bin, without databases and
// logs) into `folder` and returns it. Where the system can automate Outlook,
// an LVEmailAccess.conf saying "transport = maildir" comes with them.
std::string CopyInstall(const std::string& folder);

// `path` as the system writes the paths it reports itself (a program's own
// path, a folder beside it): on Windows with backslashes.
std::string NativePath(const std::string& path);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
bool Exists(const std::string& path);
std::vector<std::string> ListFolder(const std::string& folder);

// Delivers `message` into the Maildir `folder` the Maildir way (written into
// tmp/, then renamed into new/ under `name`), creating the folder.
void DeliverToMaildir(const std::string& folder, const std::string& name, const std::string& message);

// A database made from db/schema.sql, and db/demo.sql when `demo` is true.
void CreateDatabase(const std::string& path, bool demo = false);
void ExecSql(const std::string& dbPath, const std::string& sql);
std::vector<std::vector<std::string>> QueryRows(const std::string& dbPath, const std::string& sql);

struct RunResult {
  int exitCode = -1;
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs `program` with `args` in `workDir` (empty: the current folder) with
// the extra environment variables given, and captures its output.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env = {}, const std::string& workDir = "");

// The signal a child ended by ChildProcess::Kill reports, on every system.
inline constexpr int kKilledSignal = 9;

// A program started in the background, for tests that kill it while it
// works. A child still running when the object goes is killed and waited
// for.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {}, const std::string& workDir = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // True while the program has not ended.
  bool Running();
  // Ends it at once, as a crash would (Wait then reports kKilledSignal).
  void Kill();
  // What it has written to standard output so far.
  std::string OutputSoFar() const;
  // Waits for the end and returns the exit and the captured output.
  RunResult Wait();

 private:
  std::unique_ptr<ScratchDir> m_capture;
  platform::BackgroundProcess m_process;
};

// Checks `condition` about once a millisecond until it holds (true) or
// `limit` has passed (false). The limit only keeps a broken program from
// hanging the suite; no result depends on how fast anything is.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(120000));

// The lines of a text file that begin with `prefix`.
std::size_t CountLinesStartingWith(const std::string& path, const std::string& prefix);

// Another connection holding the write lock of an SQLite database, as the
// main application does while it writes: it opens the database and runs
// BEGIN IMMEDIATE, trying every millisecond for up to `wait` (so it gets the
// lock at the first moment another writer lets it go); the constructor returns
// once it holds it or has given up (held() tells which). Release ends the
// transaction (rolled back, nothing written); the destructor releases a lock
// still held.
class DatabaseWriteLock {
 public:
  explicit DatabaseWriteLock(const std::string& dbPath,
                             std::chrono::milliseconds wait = std::chrono::milliseconds(60000));
  ~DatabaseWriteLock();
  DatabaseWriteLock(const DatabaseWriteLock&) = delete;
  DatabaseWriteLock& operator=(const DatabaseWriteLock&) = delete;

  bool held() const { return m_held; }
  void Release();

 private:
  std::promise<void> m_release;  // set when the holder is to let go
  std::thread m_holder;
  bool m_held = false;
};

// Shows CR and LF visibly, for readable failure messages.
std::string Visible(const std::string& text);

}  // namespace testing_support
