// The Maildir transport and the folder services under it.

#include "email_test_support.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "platform/directory.h"
#include "platform/durable_file.h"
#include "platform/file_lock.h"
#include "platform/file_names.h"

#include <gtest/gtest.h>

namespace {

using emailaccess::MaildirFolder;
using emailaccess_test::MaildirMessages;
using emailaccess_test::PlaceMessage;
using testing_support::ListFolder;
using testing_support::ReadFile;
using testing_support::ScratchDir;

TEST(Maildir, DeliveryCreatesTheFolderAndLeavesOnlyAWholeMessageInNew) {
  ScratchDir dir;
  MaildirFolder outbox(dir.file("Mail/Outbox"));
  const std::string first = outbox.Deliver("one\r\n");
  const std::string second = outbox.Deliver("two\r\n");
  EXPECT_NE(first, second);
  EXPECT_EQ(ReadFile(first), "one\r\n");
  EXPECT_EQ(ListFolder(dir.file("Mail/Outbox/new")).size(), 2u);
  EXPECT_TRUE(ListFolder(dir.file("Mail/Outbox/tmp")).empty());
  EXPECT_TRUE(ListFolder(dir.file("Mail/Outbox/cur")).empty());
  EXPECT_EQ(first.substr(first.find_last_of("/\\") + 1).find_first_of(":!"), std::string::npos)
      << "a delivered name carries no flags";
}

TEST(Maildir, ListsNewAndCurInArrivalOrderAndIgnoresDotFiles) {
  ScratchDir dir;
  const std::string box = dir.file("Inbox");
  PlaceMessage(box, "b", "x", 200);
  PlaceMessage(box, "a", "x", 200);
  PlaceMessage(box, "c", "x", 100);
  PlaceMessage(box, ".hidden", "x", 50);
  // Where a name cannot hold ':' it does not appear in a Maildir either.
  const std::string flagged = platform::NamesMayHoldColon() ? "d:2,S" : "d!2,S";
  PlaceMessage(box, flagged, "x", 300);
  std::rename((box + "/new/" + flagged).c_str(), (box + "/cur/" + flagged).c_str());
  std::vector<std::string> keys;
  for (const auto& m : MaildirFolder(box).List()) keys.push_back(m.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"c", "a", "b", "d"}));
}

TEST(Maildir, MoveMarksSeenKeepsFlagsAndNeverReplaces) {
  ScratchDir dir;
  MaildirFolder inbox(dir.file("Inbox")), done(dir.file("Done"));
  PlaceMessage(inbox.path(), "plain", "1", 1);
  PlaceMessage(inbox.path(), platform::NamesMayHoldColon() ? "flagged:2,FS" : "flagged!2,FS", "2", 2);
  EXPECT_TRUE(inbox.MoveTo("plain", done));
  EXPECT_TRUE(inbox.MoveTo("flagged", done));
  EXPECT_FALSE(inbox.MoveTo("plain", done)) << "already gone";
  const std::string info = platform::NamesMayHoldColon() ? ":" : "!";
  EXPECT_EQ(MaildirMessages(done.path(), false),
            (std::vector<std::string>{"flagged" + info + "2,FS", "plain" + info + "2,S"}));

  PlaceMessage(inbox.path(), "plain", "a second message of the same name", 3);
  EXPECT_TRUE(inbox.MoveTo("plain", done));
  EXPECT_EQ(ReadFile(done.path() + "/cur/plain" + info + "2,S"), "1") << "the earlier message survives";
  const auto names = MaildirMessages(done.path(), false);
  ASSERT_EQ(names.size(), 3u) << "and the later one is kept beside it";
  EXPECT_TRUE(MaildirMessages(inbox.path()).empty());
}

TEST(Maildir, CheckReportsFoldersWithoutCreatingThem) {
  ScratchDir dir;
  testing_support::WriteFile(dir.file("NotAFolder"), "x");
  PlaceMessage(dir.file("Inbox"), "m1", "x", 1);
  std::vector<emailaccess::CheckFinding> findings;
  MaildirFolder(dir.file("Later")).Check("Outbox", findings, false);
  MaildirFolder(dir.file("NotAFolder")).Check("Skipped", findings, false);
  MaildirFolder(dir.file("Inbox")).Check("Inbox", findings, true);
  ASSERT_EQ(findings.size(), 3u);
  EXPECT_TRUE(findings[0].ok);
  EXPECT_NE(findings[0].text.find("created on first use"), std::string::npos);
  EXPECT_FALSE(testing_support::Exists(dir.file("Later")));
  EXPECT_FALSE(findings[1].ok);
  EXPECT_NE(findings[1].text.find("not a folder"), std::string::npos);
  EXPECT_TRUE(findings[2].ok);
  EXPECT_NE(findings[2].text.find("1 message(s) waiting"), std::string::npos);
}

TEST(Maildir, KeyIsTheNameBeforeItsFlagsWhicheverSeparatorWroteThem) {
  for (const char* name : {"1772.M1P2.host:2,RS", "1772.M1P2.host!2,RS", "1772.M1P2.host"}) {
    EXPECT_EQ(emailaccess::MaildirKey(name), "1772.M1P2.host") << name;
  }
}

// A folder written on the other system is read alike: its messages are
// listed by key and filed under this system's separator, keeping flags
// already set; no name this program writes holds ':' where names cannot.
TEST(Maildir, FilesMessagesOfEitherSeparatorUnderThisSystemsOwn) {
  const std::string info = platform::NamesMayHoldColon() ? ":" : "!";
  struct Case {
    std::string placed, filed;
  };
  std::vector<Case> cases = {{"a.host", "a.host" + info + "2,S"}, {"c.host!2,FS", "c.host" + info + "2,FS"}};
  // A name with ':' can only be made where names may hold one.
  if (platform::NamesMayHoldColon()) cases.push_back({"b.host:2,FS", "b.host:2,FS"});
  for (const Case& c : cases) {
    ScratchDir dir;
    MaildirFolder inbox(dir.file("Inbox")), done(dir.file("Done"));
    PlaceMessage(inbox.path(), c.placed, "m", 1);
    ASSERT_EQ(inbox.List().size(), 1u) << c.placed;
    EXPECT_TRUE(inbox.MoveTo(inbox.List()[0].key, done)) << c.placed;
    EXPECT_EQ(ListFolder(done.path() + "/cur"), std::vector<std::string>{c.filed}) << c.placed;
  }
}

TEST(PlatformFolders, MoveNeverReplacesAndTellsWhy) {
  ScratchDir dir;
  testing_support::WriteFile(dir.file("a"), "A");
  testing_support::WriteFile(dir.file("b"), "B");
  EXPECT_EQ(platform::MoveFileNoReplace(dir.file("a"), dir.file("b")), platform::MoveResult::TargetExists);
  EXPECT_EQ(ReadFile(dir.file("b")), "B");
  EXPECT_EQ(platform::MoveFileNoReplace(dir.file("missing"), dir.file("c")), platform::MoveResult::SourceMissing);
  EXPECT_EQ(platform::MoveFileNoReplace(dir.file("a"), dir.file("c")), platform::MoveResult::Moved);
  EXPECT_EQ(ReadFile(dir.file("c")), "A");
  std::string why;
  EXPECT_FALSE(platform::MakeDirectories(dir.file("c/below"), &why));
  EXPECT_FALSE(why.empty());
}

TEST(PlatformDurableFile, ReplacesWholeAndCreatesOnlyNew) {
  ScratchDir dir;
  const std::string path = dir.file("state");
  ASSERT_TRUE(platform::ReplaceFileAtomically(path, "first"));
  ASSERT_TRUE(platform::ReplaceFileAtomically(path, "second"));
  EXPECT_EQ(ReadFile(path), "second");
  EXPECT_FALSE(testing_support::Exists(platform::PartialFileName(path)));
  EXPECT_EQ(platform::CreateNewFileDurably(path, "third"), platform::CreateResult::Exists);
  EXPECT_EQ(ReadFile(path), "second");
  EXPECT_EQ(platform::CreateNewFileDurably(dir.file("no/such/folder/x"), "y"), platform::CreateResult::Failed);
  EXPECT_EQ(platform::CreateNewFileDurably(dir.file("fresh"), "z"), platform::CreateResult::Created);
  EXPECT_EQ(ReadFile(dir.file("fresh")), "z");
  std::string why;
  EXPECT_FALSE(platform::ReplaceFileAtomically(dir.file("no/such/folder/x"), "y", &why));
  EXPECT_FALSE(why.empty());
}

TEST(PlatformFileLock, SecondHolderIsBusyUntilTheFirstLetsGo) {
  ScratchDir dir;
  const std::string path = dir.file("x.lock");
  auto first = std::make_unique<platform::FileLock>();
  ASSERT_EQ(first->Acquire(path, std::chrono::milliseconds(0)), platform::FileLock::Result::Acquired);
  platform::FileLock second;
  std::string why;
  EXPECT_EQ(second.Acquire(path, std::chrono::milliseconds(120), &why), platform::FileLock::Result::Busy);
  EXPECT_NE(why.find("locked by another process"), std::string::npos);
  first.reset();
  EXPECT_EQ(second.Acquire(path, std::chrono::milliseconds(0)), platform::FileLock::Result::Acquired);
  platform::FileLock third;
  EXPECT_EQ(third.Acquire(dir.file("no/such/folder.lock"), std::chrono::milliseconds(0)), platform::FileLock::Result::Failed);
}

}  // namespace
