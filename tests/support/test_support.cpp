#include "test_support.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/automation.h"

namespace fs = std::filesystem;

namespace testing_support {

ScratchDir::ScratchDir() {
  // A name nobody else has: create_directory fails on one that exists.
  static std::mt19937_64 random{std::random_device{}()};
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "lvmapi-test-%016llx", static_cast<unsigned long long>(random()));
    std::error_code ec;
    if (fs::create_directory(base / name, ec)) {
      m_path = (base / name).generic_string();
      return;
    }
  }
  throw std::runtime_error("cannot make a scratch folder in " + base.string());
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

std::string CopyInstall(const std::string& folder) {
  fs::create_directories(folder);
  for (const auto& entry : fs::directory_iterator(LVMAPI_BIN_DIR)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    const std::string ext = entry.path().extension().string();
    // The programs and their libraries only: what a run of the demo or a
    // check left beside them (databases, logs, the mail-access program's
    // records of what it sent and holds) belongs to that run.
    static const std::set<std::string> kRunFiles = {".db",     ".log",  ".txt",  ".tmp",  ".conf",  ".state",
                                                    ".ledger", ".pace", ".sent", ".lock", ".token", ".leftover"};
    if (kRunFiles.count(ext)) continue;
    fs::copy_file(entry.path(), fs::path(folder) / name, fs::copy_options::overwrite_existing);
  }
  // Where the system can automate Outlook, the mail-access program without
  // a settings file would use Outlook, or refuse to run without one: the
  // copies keep to the Maildir, as they do elsewhere.
  if (platform::AutomationAvailable()) WriteFile(folder + "/LVEmailAccess.conf", "[general]\ntransport = maildir\n");
  return folder;
}

std::string NativePath(const std::string& path) { return fs::path(path).make_preferred().string(); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

bool Exists(const std::string& path) { return fs::exists(path); }

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void DeliverToMaildir(const std::string& folder, const std::string& name, const std::string& message) {
  for (const char* sub : {"tmp", "new", "cur"}) fs::create_directories(fs::path(folder) / sub);
  const std::string tmp = folder + "/tmp/" + name;
  WriteFile(tmp, message);
  fs::rename(tmp, folder + "/new/" + name);
}

void ExecSql(const std::string& dbPath, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open(dbPath.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + dbPath);
  char* error = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("SQL failed: " + message);
}

void CreateDatabase(const std::string& path, bool demo) {
  ExecSql(path, ReadFile(std::string(LVMAPI_SOURCE_DIR) + "/db/schema.sql"));
  if (demo) ExecSql(path, ReadFile(std::string(LVMAPI_SOURCE_DIR) + "/db/demo.sql"));
}

std::vector<std::vector<std::string>> QueryRows(const std::string& dbPath, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + dbPath);
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error("query failed: " + message);
  }
  std::vector<std::vector<std::string>> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      row.emplace_back(text ? std::string(reinterpret_cast<const char*>(text),
                                           static_cast<size_t>(sqlite3_column_bytes(stmt, i)))
                            : std::string());
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env, const std::string& workDir)
    : m_capture(std::make_unique<ScratchDir>()) {
  platform::BackgroundProcess::Options options;
  options.environment.assign(env.begin(), env.end());
  options.workDir = workDir;
  options.outputFile = m_capture->file("out");
  options.errorFile = m_capture->file("err");
  std::string error;
  if (!m_process.Start(program, args, options, &error)) {
    throw std::runtime_error("cannot start " + program + ": " + error);
  }
}

ChildProcess::~ChildProcess() = default;  // the process object ends a child still running

bool ChildProcess::Running() { return m_process.Running(); }

std::string ChildProcess::OutputSoFar() const { return ReadFile(m_capture->file("out")); }

void ChildProcess::Kill() { m_process.Kill(); }

RunResult ChildProcess::Wait() {
  const platform::ProcessOutcome outcome = m_process.Wait();
  RunResult result;
  result.exitCode = outcome.exitCode;
  result.signal = outcome.signal;
  result.out = ReadFile(m_capture->file("out"));
  result.err = ReadFile(m_capture->file("err"));
  return result;
}

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env, const std::string& workDir) {
  return ChildProcess(program, args, env, workDir).Wait();
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::size_t CountLinesStartingWith(const std::string& path, const std::string& prefix) {
  std::ifstream in(path, std::ios::binary);
  std::size_t count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, prefix.size(), prefix) == 0) ++count;
  }
  return count;
}

DatabaseWriteLock::DatabaseWriteLock(const std::string& dbPath, std::chrono::milliseconds wait) {
  std::promise<bool> held;
  std::future<bool> answer = held.get_future();
  std::future<void> released = m_release.get_future();
  // Its own connection on a thread of its own: SQLite keeps the lock for
  // that connection against every other one, in this process or another.
  m_holder = std::thread([dbPath, wait, held = std::move(held), released = std::move(released)]() mutable {
    sqlite3* db = nullptr;
    bool got = false;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
      // Tries again every millisecond, so the lock is had at the first
      // moment the database is free, however short.
      const auto deadline = std::chrono::steady_clock::now() + wait;
      while (!(got = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    held.set_value(got);
    if (got) released.wait();
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  });
  m_held = answer.get();
  if (!m_held) Release();
}

DatabaseWriteLock::~DatabaseWriteLock() { Release(); }

void DatabaseWriteLock::Release() {
  if (!m_holder.joinable()) return;
  if (m_held) m_release.set_value();
  m_holder.join();
  m_held = false;
}

std::string Visible(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n\n";
    else if (c == '\t') out += "\\t";
    else out.push_back(c);
  }
  return out;
}

}  // namespace testing_support
