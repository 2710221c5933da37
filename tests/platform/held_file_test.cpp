// A file another program holds open without sharing it (a virus scanner, an
// indexer, a backup tool): every file call waits some two seconds for it,
// and names it as in use by another program when it stays held.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "child_program.h"
#include "platform/directory.h"
#include "platform/durable_file.h"
#include "platform/file_lock.h"
#include "platform/files.h"

namespace {

using platform_test::ScratchFolder;

// Holds `path` unshared from now on, for `seconds`, on a thread of its own.
class Holder {
 public:
  Holder(const std::string& path, double seconds) {
    const std::wstring wide(path.begin(), path.end());  // the scratch paths are ASCII
    m_file = ::CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(m_file, INVALID_HANDLE_VALUE) << path;
    m_release = std::thread([this, seconds] {
      std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
      ::CloseHandle(m_file);
    });
  }
  ~Holder() { m_release.join(); }

 private:
  HANDLE m_file = INVALID_HANDLE_VALUE;
  std::thread m_release;
};

struct HeldCall {
  const char* what;
  // Works on the held file `path` (`other`: a free name beside it); false
  // with `error` when it failed.
  std::function<bool(const std::string& path, const std::string& other, std::string& error)> call;
};

const HeldCall kCalls[] = {
    {"read", [](const std::string& p, const std::string&, std::string& e) {
       std::string data;
       return platform::ReadWholeFile(p, data, &e) && data == "old";
     }},
    {"write", [](const std::string& p, const std::string&, std::string& e) { return platform::WriteWholeFile(p, "new", &e); }},
    {"append", [](const std::string& p, const std::string&, std::string& e) { return platform::AppendToFile(p, "+", &e); }},
    {"replace", [](const std::string& p, const std::string&, std::string& e) {
       return platform::ReplaceFileAtomically(p, "new", &e);
     }},
    {"remove", [](const std::string& p, const std::string&, std::string&) { return platform::RemoveFile(p); }},
    {"move", [](const std::string& p, const std::string& o, std::string& e) {
       return platform::MoveFileNoReplace(p, o, &e) == platform::MoveResult::Moved;
     }},
    {"lock", [](const std::string& p, const std::string&, std::string& e) {
       platform::FileLock lock;
       return lock.Acquire(p, std::chrono::milliseconds(0), &e) == platform::FileLock::Result::Acquired;
     }},
};

TEST(HeldFiles, ABriefHoldIsWaitedFor) {
  for (const HeldCall& c : kCalls) {
    ScratchFolder scratch;
    const std::string path = scratch.file("held.txt");
    ASSERT_TRUE(platform::WriteWholeFile(path, "old"));
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    bool ok = false;
    {
      Holder holder(path, 0.6);
      EXPECT_TRUE(platform::IsHeldByAnotherProgram(path)) << c.what;
      ok = c.call(path, scratch.file("moved.txt"), error);
    }
    EXPECT_TRUE(ok) << c.what << ": " << error;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(550)) << c.what;
    EXPECT_FALSE(platform::IsHeldByAnotherProgram(path)) << c.what;
  }
}

TEST(HeldFiles, AFileHeldLongerIsNamedAsInUseAndLeftAsItWas) {
  for (const HeldCall& c : kCalls) {
    ScratchFolder scratch;
    const std::string path = scratch.file("held.txt");
    ASSERT_TRUE(platform::WriteWholeFile(path, "old"));
    std::string error;
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    {
      Holder holder(path, 4);
      ok = c.call(path, scratch.file("moved.txt"), error);
      const auto waited = std::chrono::steady_clock::now() - start;
      EXPECT_GE(waited, std::chrono::milliseconds(1500)) << c.what;
      EXPECT_LT(waited, std::chrono::milliseconds(3800)) << c.what << ": gave up only when the holder let go";
    }
    EXPECT_FALSE(ok) << c.what;
    if (std::string(c.what) != "remove") {
      EXPECT_NE(error.find("'" + path + "': it is in use by another program"), std::string::npos) << c.what << ": " << error;
    }
    std::string data;
    ASSERT_TRUE(platform::ReadWholeFile(path, data)) << c.what;
    EXPECT_EQ(data, "old") << c.what;
    EXPECT_FALSE(platform::FileExists(scratch.file("moved.txt"))) << c.what;
  }
}

}  // namespace
