// Helpers shared by the test suites: scratch folders that clean up after
// themselves, copies of the install folder, child processes with their output
// captured, and SQLite databases made from the project's schema.
#pragma once

#include <map>
#include <string>
#include <vector>

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
// logs) into `folder` and returns it.
std::string CopyInstall(const std::string& folder);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
bool Exists(const std::string& path);
std::vector<std::string> ListFolder(const std::string& folder);

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

// Shows CR and LF visibly, for readable failure messages.
std::string Visible(const std::string& text);

}  // namespace testing_support
