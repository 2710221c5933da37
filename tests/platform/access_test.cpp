// Private files on Windows: what other systems do with modes 0600 and 0700
// is an access list of the owner, SYSTEM and the Administrators alone.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <aclapi.h>

#include "child_program.h"
#include "platform/durable_file.h"
#include "platform/files.h"
#include "platform/win32_support.h"

namespace {

using platform::win32::CurrentUserSid;
using platform::win32::WellKnownSid;
using platform::win32::Wide;

// The access list's entries as (SID, rights, inheritance), in order.
struct Entry {
  std::vector<unsigned char> sid;
  ACCESS_MASK rights;
  BYTE flags;
  bool operator==(const Entry&) const = default;
};

std::vector<Entry> EntriesOf(ACL* acl) {
  std::vector<Entry> entries;
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(acl, i, &ace)) break;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    auto* sid = reinterpret_cast<unsigned char*>(&allowed->SidStart);
    entries.push_back({std::vector<unsigned char>(sid, sid + ::GetLengthSid(sid)), allowed->Mask,
                       static_cast<BYTE>(allowed->Header.AceFlags & ~INHERITED_ACE)});
  }
  return entries;
}

std::vector<Entry> Expected(BYTE flags) {
  return {{CurrentUserSid(), FILE_ALL_ACCESS, flags},
          {WellKnownSid(WinLocalSystemSid), FILE_ALL_ACCESS, flags},
          {WellKnownSid(WinBuiltinAdministratorsSid), FILE_ALL_ACCESS, flags}};
}

TEST(PrivateAccess, TheListNamesOwnerSystemAndAdministratorsOnly) {
  ASSERT_FALSE(CurrentUserSid().empty());
  const std::pair<bool, BYTE> cases[] = {{false, 0}, {true, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE}};
  for (const auto& [folder, flags] : cases) {
    platform::win32::PrivateAttributes attributes(folder);
    ASSERT_NE(attributes.get(), nullptr);
    EXPECT_EQ(EntriesOf(attributes.acl()), Expected(flags)) << "folder " << folder;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(attributes.get()->lpSecurityDescriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing passed down from the folder above";
  }
}

// What the file system keeps of a file's list, read back.
std::vector<Entry> StoredEntries(const std::string& path, bool* protectedList = nullptr) {
  ACL* dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_EQ(::GetNamedSecurityInfoW(Wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  std::vector<Entry> entries = EntriesOf(dacl);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (descriptor && protectedList) {
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    *protectedList = (control & SE_DACL_PROTECTED) != 0;
  }
  ::LocalFree(descriptor);
  return entries;
}

// Wine keeps an access list it is given only as far as the Unix mode can
// tell it; a real Windows reads back the list itself.
bool KeepsAccessLists() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr; }

TEST(PrivateAccess, PrivateFilesAreStoredWithThatList) {
  platform_test::ScratchFolder scratch;
  const std::string made = scratch.file("owner only é");
  const std::string replaced = scratch.file("replaced");
  const std::string later = scratch.file("made private later");
  ASSERT_TRUE(platform::WriteWholeFile(made, "secret", nullptr, platform::FileAccess::OwnerOnly));
  ASSERT_TRUE(platform::ReplaceFileAtomically(replaced, "secret", nullptr, true));
  ASSERT_TRUE(platform::WriteWholeFile(later, "secret"));
  ASSERT_TRUE(platform::MakeOwnerOnly(later));
  EXPECT_FALSE(platform::MakeOwnerOnly(scratch.file("missing")));
  if (!KeepsAccessLists()) GTEST_SKIP() << "this system does not keep access lists as given";
  for (const auto& path : {made, replaced, later}) {
    bool protectedList = false;
    EXPECT_EQ(StoredEntries(path, &protectedList), Expected(0)) << path;
    EXPECT_TRUE(protectedList) << path;
  }
}

TEST(PrivateAccess, AReplacedFileKeepsItsList) {
  platform_test::ScratchFolder scratch;
  const std::string path = scratch.file("kept é");
  ASSERT_TRUE(platform::WriteWholeFile(path, "old"));
  ASSERT_TRUE(platform::MakeOwnerOnly(path));
  const auto before = StoredEntries(path);
  std::string error;
  ASSERT_TRUE(platform::ReplaceFileKeepingAccess(path, "new", &error)) << error;
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(path, content));
  EXPECT_EQ(content, "new");
  EXPECT_EQ(StoredEntries(path), before);
  EXPECT_FALSE(platform::ReplaceFileKeepingAccess(scratch.file("missing"), "x", &error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
}

}  // namespace
#endif
