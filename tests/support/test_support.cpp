#include "test_support.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace testing_support {

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "lvmapi-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
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
    if (ext == ".db" || ext == ".log" || ext == ".txt" || ext == ".tmp" || ext == ".conf" || ext == ".state") continue;
    fs::copy_file(entry.path(), fs::path(folder) / name, fs::copy_options::overwrite_existing);
  }
  return folder;
}

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
  const std::string outPath = m_capture->file("out");
  const std::string errPath = m_capture->file("err");
  std::vector<std::string> copies{program};
  copies.insert(copies.end(), args.begin(), args.end());
  m_pid = fork();
  if (m_pid < 0) throw std::runtime_error("fork failed");
  if (m_pid == 0) {
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    if (!freopen(outPath.c_str(), "w", stdout) || !freopen(errPath.c_str(), "w", stderr)) _exit(126);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (auto& c : copies) argv.push_back(c.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0 && Running()) {
    kill(m_pid, SIGKILL);
    Wait();
  }
}

bool ChildProcess::Running() {
  if (m_ended) return false;
  int status = 0;
  pid_t done = waitpid(m_pid, &status, WNOHANG);
  if (done == m_pid) {
    m_ended = true;
    m_status = status;
  }
  return !m_ended;
}

std::string ChildProcess::OutputSoFar() const { return ReadFile(m_capture->file("out")); }

void ChildProcess::Signal(int signal) {
  if (!m_ended) kill(m_pid, signal);
}

RunResult ChildProcess::Wait() {
  while (!m_ended) {
    int status = 0;
    pid_t done = waitpid(m_pid, &status, 0);
    if (done == m_pid) {
      m_ended = true;
      m_status = status;
    } else if (done < 0 && errno != EINTR) {
      throw std::runtime_error("waitpid failed");
    }
  }
  RunResult result;
  if (WIFEXITED(m_status)) result.exitCode = WEXITSTATUS(m_status);
  if (WIFSIGNALED(m_status)) result.signal = WTERMSIG(m_status);
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
  // Close-on-exec: a program started meanwhile must not keep the release
  // pipe open, or closing it would not release the lock.
  int held[2], release[2];
  if (pipe2(held, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(release, O_CLOEXEC) != 0) {
    close(held[0]);
    close(held[1]);
    throw std::runtime_error("pipe failed");
  }
  m_pid = fork();
  if (m_pid < 0) throw std::runtime_error("fork failed");
  if (m_pid == 0) {
    close(held[0]);
    close(release[1]);
    sqlite3* db = nullptr;
    char answer = 'n';
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
      // Tries again every millisecond, so the lock is had at the first
      // moment the database is free, however short.
      static long tries;
      tries = static_cast<long>(wait.count());
      sqlite3_busy_handler(
          db, [](void*, int attempt) { return attempt < tries && usleep(1000) == 0 ? 1 : 0; }, nullptr);
      if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) answer = 'y';
    }
    (void)!write(held[1], &answer, 1);
    char c;
    (void)!read(release[0], &c, 1);  // the release, or the parent gone
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    _exit(0);
  }
  close(held[1]);
  close(release[0]);
  m_release = release[1];
  char answer = 'n';
  const bool told = read(held[0], &answer, 1) == 1;
  close(held[0]);
  m_held = told && answer == 'y';
  if (!m_held) Release();
}

DatabaseWriteLock::~DatabaseWriteLock() { Release(); }

void DatabaseWriteLock::Release() {
  if (m_pid <= 0) return;
  close(m_release);
  while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  m_pid = -1;
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
