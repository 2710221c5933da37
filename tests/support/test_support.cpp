#include "test_support.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env, const std::string& workDir) {
  ScratchDir capture;
  const std::string outPath = capture.file("out");
  const std::string errPath = capture.file("err");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    if (!freopen(outPath.c_str(), "w", stdout) || !freopen(errPath.c_str(), "w", stderr)) _exit(126);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    std::vector<std::string> copies{program};
    copies.insert(copies.end(), args.begin(), args.end());
    for (auto& c : copies) argv.push_back(c.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  RunResult result;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
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
