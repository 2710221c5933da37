// LvMAPI and the real mail-access program from a copied install folder, with
// the database or the disk failing under them: a database locked by another
// process, a database file missing, read-only or lacking a table, a disk
// too full for the exchange file, and the mail-access program killed at
// random points of a fetch. Each failure is reported where people look
// (the database error log with its alert, the run log, the mail-access
// program's log), and the next run, with the fault gone, stores every reply
// exactly once and leaves no file with people's replies behind.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "reply_install.h"

namespace {

namespace fs = std::filesystem;
using testing_support::DatabaseLogEntries;
using testing_support::ReplyInstall;
using testing_support::Visible;

const char kAlertCaption[] = "Corvane Has Encountered an Error";
const char kLoadOfResponses[] = "SELECT ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  FROM SurveyResponse";

// Lets the next run complete, then checks that everything is stored once and
// the inbox is empty.
void ExpectARerunCompletes(const ReplyInstall& install, int survey, int goal) {
  const auto rerun = install.RunLvMAPI(goal > 0 ? "5" : "4");
  ASSERT_EQ(rerun.exitCode, 0) << rerun.err;
  EXPECT_EQ(install.StoredOnceProblems(survey, goal), std::vector<std::string>{});
  ASSERT_EQ(install.Acknowledge().exitCode, 0);
  EXPECT_EQ(install.Messages("Inbox"), 0u) << "replies left unprocessed";
  EXPECT_EQ(install.Messages("Processed"), static_cast<std::size_t>(survey + goal));
  EXPECT_EQ(install.LeftoverExchangeFiles(), std::vector<std::string>{});
}

// A failed run as the main application sees it: a non-zero exit without a
// crash, the alert on standard error, and one entry in the database error
// log, each naming `reason`.
void ExpectOneReportedDatabaseFailure(const ReplyInstall& install, const testing_support::RunResult& run,
                                      const std::string& reason) {
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.signal, 0) << "no abort, no crash";
  EXPECT_EQ(run.err.substr(0, run.err.find('\n')), kAlertCaption) << run.err;
  EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
  const std::string dbLog = install.DatabaseLog();
  EXPECT_EQ(DatabaseLogEntries(dbLog), 1u) << Visible(dbLog);
  EXPECT_NE(dbLog.find(reason), std::string::npos) << Visible(dbLog);
}

std::vector<std::string> DatabaseFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const std::string& name : testing_support::ListFolder(folder)) {
    if (name.starts_with("church.db")) names.push_back(name);
  }
  return names;
}

// ---------------------------------------------------------------------------
// Another process holds the database's write lock.

class LockedDatabase : public ::testing::Test {
 protected:
  testing_support::ScratchDir m_dir;
  ReplyInstall m_install{m_dir.file("bin")};
  std::string m_trace = m_dir.file("statements.sql");
};

TEST_F(LockedDatabase, StatementsWaitForALockHeldTwoSecondsAndSucceed) {
  m_install.PlaceSurveyReplies(10);
  testing_support::DatabaseWriteLock lock(m_install.db());
  ASSERT_TRUE(lock.held());
  auto lvmapi = m_install.StartLvMAPI("4", m_trace);
  // The first reply has been read back; its rows wait for the lock.
  ASSERT_TRUE(testing_support::WaitUntil([&] {
    return testing_support::CountLinesStartingWith(m_trace, kLoadOfResponses) >= 1 || !lvmapi->Running();
  }));
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_TRUE(lvmapi->Running()) << "LvMAPI did not wait for the lock";
  EXPECT_EQ(m_install.Count("SurveyReply"), 0);
  lock.Release();
  const auto run = lvmapi->Wait();
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  RecordProperty("lock_held_then_run_ms", std::to_string(waited.count()));

  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err.find(kAlertCaption), std::string::npos) << run.err;
  EXPECT_FALSE(testing_support::Exists(m_install.bin() + "/LV_DB_Log.txt"));
  EXPECT_NE(m_install.RunLog().find("Number of survey responses read from file: 10\r\n"), std::string::npos);
  EXPECT_EQ(m_install.StoredOnceProblems(10, 0), std::vector<std::string>{});
}

TEST_F(LockedDatabase, ALockHeldBeyondTheBusyTimeoutFailsOnceAndTheNextRunStoresEveryReplyOnce) {
  constexpr int kSurvey = 10, kGoal = 3;
  m_install.PlaceSurveyReplies(kSurvey);
  m_install.PlaceGoalReplies(kGoal);
  auto lvmapi = m_install.StartLvMAPI("5", m_trace);
  // The main application takes the lock half-way through the run: once the
  // first reply is being stored, at the first moment LvMAPI lets it go.
  ASSERT_TRUE(testing_support::WaitUntil([&] {
    return testing_support::CountLinesStartingWith(m_trace, "INSERT INTO SurveyReply(") >= 1 || !lvmapi->Running();
  }));
  ASSERT_TRUE(lvmapi->Running()) << "LvMAPI ended before the lock was taken";
  testing_support::DatabaseWriteLock lock(m_install.db());
  ASSERT_TRUE(lock.held());
  const auto start = std::chrono::steady_clock::now();
  const auto failed = lvmapi->Wait();
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  RecordProperty("busy_timeout_run_ms", std::to_string(waited.count()));

  ExpectOneReportedDatabaseFailure(m_install, failed, "database is locked");
  const long survey = m_install.Count("SurveyReply"), goal = m_install.Count("StrategyGoalStatusReply");
  EXPECT_GE(survey, 1);
  EXPECT_LT(survey + goal, kSurvey + kGoal) << "the run ended early";
  EXPECT_EQ(m_install.HalfStoredProblems(), std::vector<std::string>{});
  EXPECT_EQ(m_install.RunLog().find("Number of goal responses read from file"), std::string::npos)
      << "the goal pass did not end";

  lock.Release();
  ExpectARerunCompletes(m_install, kSurvey, kGoal);
}

// ---------------------------------------------------------------------------
// A database that cannot be used as it is.

struct BrokenDatabase {
  const char* what;
  std::function<void(const ReplyInstall&)> breakIt;
  std::function<void(const ReplyInstall&)> mendIt;
  const char* reason;  // in the alert and in the database error log
};

void RunBrokenDatabaseCase(const BrokenDatabase& c) {
  SCOPED_TRACE(c.what);
  testing_support::ScratchDir dir;
  ReplyInstall install(dir.file("bin"));
  install.PlaceSurveyReplies(5);
  install.PlaceGoalReplies(2);
  c.breakIt(install);
  const std::vector<std::string> filesBefore = DatabaseFiles(install.bin());

  const auto failed = install.RunLvMAPI("5");
  ExpectOneReportedDatabaseFailure(install, failed, c.reason);
  EXPECT_EQ(DatabaseFiles(install.bin()), filesBefore) << "no database file is created or left behind";

  c.mendIt(install);
  if (testing_support::Exists(install.db())) {
    EXPECT_EQ(install.HalfStoredProblems(), std::vector<std::string>{});
  }
  ExpectARerunCompletes(install, 5, 2);
}

TEST(BrokenDatabase, ClearErrorsNoNewFileAndTheNextRunStoresEveryReplyOnce) {
  auto dropTable = [](const char* table) {
    return [table](const ReplyInstall& install) {
      testing_support::ExecSql(install.db(), std::string("DROP TABLE ") + table + ";");
    };
  };
  auto runSql = [](const char* sql) {
    return [sql](const ReplyInstall& install) { testing_support::ExecSql(install.db(), sql); };
  };
  const BrokenDatabase cases[] = {
      {"the database file is missing",
       [](const ReplyInstall& install) { fs::rename(install.db(), install.db() + ".away"); },
       [](const ReplyInstall& install) { fs::rename(install.db() + ".away", install.db()); }, "cannot open database"},
      {"the database lacks the table of survey responses", dropTable("SurveyResponse"),
       runSql("CREATE TABLE SurveyResponse (ResponseID TEXT PRIMARY KEY, ReplyID TEXT, SurveyQuestionID TEXT, "
                   "SurveyQuestionResponse TEXT);"),
       "no such table: SurveyResponse"},
      // The goal pass fails after a reply row has been written.
      {"the database lacks the table of goal status responses", dropTable("StrategyGoalStatusResponse"),
       runSql("CREATE TABLE StrategyGoalStatusResponse (ResponseID TEXT PRIMARY KEY, ReplyID TEXT, GoalID TEXT, "
                   "PercentComplete TEXT, Comment TEXT);"),
       "no such table: StrategyGoalStatusResponse"},
      // A reply row refused after its responses were written, as a disk
      // failing at that moment would.
      {"the reply row of a survey reply is refused",
       runSql("CREATE TRIGGER Refuse BEFORE INSERT ON SurveyReply WHEN (SELECT COUNT(*) FROM SurveyReply) = 2 "
                   "BEGIN SELECT RAISE(ABORT, 'reply row refused'); END;"),
       runSql("DROP TRIGGER Refuse;"), "reply row refused"},
  };
  for (const BrokenDatabase& c : cases) RunBrokenDatabaseCase(c);
}

// Root writes to files whatever their modes say, so as root the file is
// made read-only by mounting it read-only over itself.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path) : m_path(path) {
    if (geteuid() != 0) {
      m_ready = chmod(path.c_str(), 0444) == 0;
      if (!m_ready) m_why = std::strerror(errno);
      return;
    }
    if (mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      m_why = std::string("cannot bind-mount the database file: ") + std::strerror(errno);
      return;
    }
    m_mounted = true;
    if (mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
      m_why = std::string("cannot make the mount read-only: ") + std::strerror(errno);
      return;
    }
    m_ready = true;
  }
  ~ReadOnlyFile() { MakeWritable(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  bool ready() const { return m_ready; }
  const std::string& why() const { return m_why; }
  void MakeWritable() {
    if (m_mounted) umount2(m_path.c_str(), MNT_DETACH);
    m_mounted = false;
    if (geteuid() != 0) chmod(m_path.c_str(), 0644);
  }

 private:
  std::string m_path;
  bool m_ready = false;
  bool m_mounted = false;
  std::string m_why;
};

TEST(BrokenDatabase, AReadOnlyDatabaseFileGivesAClearErrorAndTheNextRunStoresEveryReplyOnce) {
  testing_support::ScratchDir dir;
  ReplyInstall install(dir.file("bin"));
  install.PlaceSurveyReplies(5);
  install.PlaceGoalReplies(2);
  ReadOnlyFile readOnly(install.db());
  if (!readOnly.ready()) GTEST_SKIP() << "the database file cannot be made read-only here: " << readOnly.why();
  const std::vector<std::string> filesBefore = DatabaseFiles(install.bin());

  const auto failed = install.RunLvMAPI("5");
  ExpectOneReportedDatabaseFailure(install, failed, "readonly database");
  EXPECT_EQ(DatabaseFiles(install.bin()), filesBefore) << "no database file is created or left behind";
  EXPECT_EQ(install.Count("SurveyReply"), 0);

  readOnly.MakeWritable();
  ExpectARerunCompletes(install, 5, 2);
}

// ---------------------------------------------------------------------------
// A full disk: a small file system of its own holds the install folder, or
// only the database.

class SmallFileSystem {
 public:
  // Room for the installed programs (sanitizer builds are larger) and 32 MB,
  // or `size` bytes.
  explicit SmallFileSystem(const std::string& folder, std::uintmax_t size = 0) : m_folder(folder) {
    fs::create_directories(folder);
    if (geteuid() != 0) {
      m_why = "mounting a file system needs root";
      return;
    }
    if (size == 0) {
      size = 32u << 20;
      for (const auto& entry : fs::directory_iterator(LVMAPI_BIN_DIR)) {
        if (entry.is_regular_file()) size += entry.file_size();
      }
    }
    const std::string options = "size=" + std::to_string(size) + ",mode=0755";
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      m_why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
      return;
    }
    m_mounted = true;
  }
  ~SmallFileSystem() {
    if (m_mounted) umount2(m_folder.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool mounted() const { return m_mounted; }
  const std::string& why() const { return m_why; }

  // Fills the file system up and then gives `spare` bytes back.
  void FillLeaving(std::size_t spare) {
    const std::string filler = m_folder + "/filler";
    {
      std::ofstream out(filler, std::ios::binary);
      const std::string block(1 << 16, 'f');
      while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
      }
    }
    const auto size = fs::file_size(filler);
    fs::resize_file(filler, size > spare ? size - spare : 0);
  }
  void MakeRoom() { fs::remove(m_folder + "/filler"); }

 private:
  std::string m_folder;
  bool m_mounted = false;
  std::string m_why;
};

TEST(FullDisk, AnIncomingExchangeFileThatDoesNotFitIsLoggedAndItsRepliesWait) {
  testing_support::ScratchDir dir;
  SmallFileSystem disk(dir.file("bin"));
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  ReplyInstall install(dir.file("bin"));
  // 20 replies of some 8 KB each: far more than the 64 KB left over.
  install.PlaceSurveyReplies(20, 0, 8000);
  install.RunLvMAPI("9");  // the logs exist, as after earlier runs
  disk.FillLeaving(64 * 1024);

  const auto run = install.RunLvMAPI("4");
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(run.signal, 0);
  EXPECT_NE(install.RunLog().find("The mail-access program ended with status 1: failure, see LVEmailAccess.log\r\n"
                                  "  LVEmailAccess: cannot write the exchange file"),
            std::string::npos)
      << Visible(install.RunLog());
  EXPECT_NE(install.RunLog().find("Number of survey responses read from file: 0\r\n"), std::string::npos)
      << Visible(install.RunLog());
  const std::string mailLog = install.MailLog();
  EXPECT_NE(mailLog.find("ERROR cannot write the exchange file"), std::string::npos) << mailLog;
  EXPECT_NE(mailLog.find("No space left on device"), std::string::npos) << mailLog;
  EXPECT_EQ(install.LeftoverExchangeFiles(), std::vector<std::string>{});
  EXPECT_EQ(install.Count("SurveyReply"), 0);
  EXPECT_EQ(install.Messages("Inbox"), 20u) << "the replies wait for the next run";

  disk.MakeRoom();
  ExpectARerunCompletes(install, 20, 0);
}

TEST(FullDisk, AnOutgoingExchangeFileThatDoesNotFitIsLoggedAndNothingIsSent) {
  testing_support::ScratchDir dir;
  SmallFileSystem disk(dir.file("bin"));
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  ReplyInstall install(dir.file("bin"));
  testing_support::CreateDatabase(install.bin() + "/demo.db", true);
  install.RunLvMAPI("9");
  testing_support::Run(install.bin() + "/LVEmailAccess", {"--check"});  // its log exists too
  disk.FillLeaving(0);

  const auto run = testing_support::Run(install.bin() + "/LvMAPI",
                                        {"demo.db", "2", "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}"});
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 1) << run.err;
  // LvMAPI's run log says the file could not be written, and standard
  // error why; the mail-access program is not started on what there is of
  // it, which would only hide the cause.
  const std::string runLog = install.RunLog();
  EXPECT_NE(runLog.find("Could not write output file: " + install.bin() + "/"), std::string::npos) << Visible(runLog);
  EXPECT_EQ(run.err.rfind("LvMAPI: nothing sent: cannot write '" + install.bin() + "/", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
  EXPECT_EQ(install.MailLog().find("operation 2"), std::string::npos) << install.MailLog();
  EXPECT_EQ(install.Messages("Outbox"), 0u) << "nothing half-sent";
  EXPECT_EQ(install.LeftoverExchangeFiles(), std::vector<std::string>{});
}

TEST(FullDisk, ADatabaseDiskFillingUpWhileRepliesAreStoredFailsCleanlyAndTheNextRunCompletes) {
  testing_support::ScratchDir dir;
  const std::string bin = dir.file("bin");
  SmallFileSystem disk(bin + "/data", 4u << 20);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  ReplyInstall install(bin, "data/church.db");
  install.PlaceSurveyReplies(50);
  disk.FillLeaving(24 * 1024);  // room for a few replies, not for fifty

  const auto failed = install.RunLvMAPI("4");
  ExpectOneReportedDatabaseFailure(install, failed, "database or disk is full");
  ::testing::Test::RecordProperty("replies_stored_before_the_disk_was_full", std::to_string(install.Count("SurveyReply")));
  EXPECT_GE(install.Count("SurveyReply"), 1) << "the disk filled up half-way";
  EXPECT_LT(install.Count("SurveyReply"), 50);
  EXPECT_EQ(install.HalfStoredProblems(), std::vector<std::string>{});

  disk.MakeRoom();
  ExpectARerunCompletes(install, 50, 0);
}

// ---------------------------------------------------------------------------
// The mail-access program killed (SIGKILL) at random points while it fetches,
// many times over: what a kill leaves (an exchange file half written under
// its ".part" name, with people's replies in it) is removed by a later run,
// and the replies are stored once.

TEST(KilledFetch, NoPartOfAnExchangeFileOutlivesTheRunsAfterRandomKills) {
  testing_support::ScratchDir dir;
  ReplyInstall install(dir.file("bin"));
  constexpr int kReplies = 120;
  install.PlaceSurveyReplies(kReplies, 0, 4000);
  std::mt19937 random(20261209);  // fixed, so a failure can be run again
  std::uniform_int_distribution<int> delayUs(0, 30000);
  int killedWithAPart = 0;
  for (int cycle = 0; cycle < 16; ++cycle) {
    const std::string exchange = install.bin() + "/killed-" + std::to_string(cycle) + ".tmp";
    testing_support::ChildProcess fetch(install.bin() + "/LVEmailAccess", {"4", exchange, "Corvane Survey", "0"});
    // Every other kill lands somewhere after the file was begun, the rest
    // anywhere from the start.
    if (cycle % 2 == 0) {
      testing_support::WaitUntil([&] { return testing_support::Exists(exchange + ".part") || !fetch.Running(); });
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
    fetch.Kill();
    fetch.Wait();
    if (testing_support::Exists(exchange + ".part")) ++killedWithAPart;
  }
  RecordProperty("kills_that_left_a_part_file", std::to_string(killedWithAPart));
  EXPECT_GT(killedWithAPart, 0) << "no kill landed while the exchange file was written";

  const auto rerun = install.RunLvMAPI("4");
  ASSERT_EQ(rerun.exitCode, 0) << rerun.err;
  EXPECT_EQ(install.StoredOnceProblems(kReplies, 0), std::vector<std::string>{});
  ASSERT_EQ(install.Acknowledge().exitCode, 0);
  EXPECT_EQ(install.LeftoverExchangeFiles(), std::vector<std::string>{}) << "people's replies left in the folder";
  EXPECT_EQ(install.Messages("Processed"), static_cast<std::size_t>(kReplies));
}

}  // namespace
