// LvMAPI beside files it cannot write: an immutable folder (as a read-only
// share would be) and a run log in the way, made with Linux's own tools.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "test_support.h"

namespace {

class UnwritableFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_bin);
    testing_support::CreateDatabase(m_bin + "/church.db", true);
  }
  testing_support::RunResult Start(const std::vector<std::string>& args) {
    return testing_support::Run(m_bin + "/LvMAPI", args, {}, m_dir.path());
  }

  testing_support::ScratchDir m_dir;
  std::string m_bin = m_dir.file("bin");
};

// Where nothing can be written beside the program (an immutable folder here,
// as a read-only share would be), LvMAPI says so itself, names the folder
// and starts nothing; a run log that cannot be written is said on standard
// error, and the job does not end with 0.
TEST_F(UnwritableFolder, AFolderOrRunLogThatCannotBeWrittenIsToldAndNotASuccess) {
  struct Case {
    const char* what;
    std::string prepare;  // shell commands
    std::string undo;
    int exitCode;
    std::string err;
  };
  const std::string folder = testing_support::NativePath(m_bin + "/");
  const Case cases[] = {
      {"immutable folder", "chattr +i '" + m_bin + "'", "chattr -i '" + m_bin + "'", 73,
       "LvMAPI: nothing can be written in the folder " + folder +
           " (the run log, the exchange files and Mail go there); nothing was started\n"},
      {"run log in the way", "rm -f '" + m_bin + "/LvMAPI.log' && mkdir '" + m_bin + "/LvMAPI.log'",
       "rmdir '" + m_bin + "/LvMAPI.log'", 75,
       "LvMAPI: the run log could not be written: cannot open '" + m_bin + "/LvMAPI.log': Is a directory\n"},
  };
  for (const Case& c : cases) {
    if (std::system(c.prepare.c_str()) != 0) {
      ADD_FAILURE() << c.what << ": cannot prepare (" << c.prepare << ")";
      continue;
    }
    const auto result = Start({"church.db", "4"});
    const bool emailStarted = testing_support::Exists(m_bin + "/LVEmailAccess.log");
    EXPECT_EQ(std::system(c.undo.c_str()), 0) << c.what;
    EXPECT_EQ(result.exitCode, c.exitCode) << c.what;
    EXPECT_EQ(result.err, c.err) << c.what;
    EXPECT_EQ(emailStarted, c.exitCode != 73) << c.what;
    std::remove((m_bin + "/LVEmailAccess.log").c_str());
  }
}

}  // namespace
