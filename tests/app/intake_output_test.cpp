// A mid-sized reply intake (command 4 over a few thousand stored answers)
// run as a process, its standard output, run log and statement trace
// compared byte for byte with what the program produced before its load,
// trace and store path was made fast. Callers and peers read all three, so
// speed work must not change one byte of them.
//
// Identifiers the run makes anew are random; each distinct one is masked as
// {NEW-<n>} in the order it first appears in its file, so the outputs still
// show which rows share an identifier. The install folder is masked as
// <install>/. The references are in data/intake_reference/ (standard output
// as gzip, since it lists every stored answer once per reply). Setting
// LVMAPI_INTAKE_REFERENCE_OUT to a folder makes the test write the masked
// outputs it got there, to compare by hand or to renew the references.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "mail_access_stand_in.h"
#include "test_support.h"

namespace {

using testing_support::ReadFile;

constexpr size_t kGuidLength = 38;  // {8-4-4-4-12}

bool IsGuidAt(const std::string& text, size_t at) {
  if (at + kGuidLength > text.size() || text[at] != '{' || text[at + kGuidLength - 1] != '}') return false;
  for (size_t i = 1; i + 1 < kGuidLength; ++i) {
    const char c = text[at + i];
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::set<std::string> GuidsIn(const std::string& text) {
  std::set<std::string> guids;
  for (size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at + 1)) {
    if (IsGuidAt(text, at)) guids.insert(text.substr(at, kGuidLength));
  }
  return guids;
}

// `text` with every identifier not in `known` masked and `install` replaced.
// A path in the install folder is masked whichever separators the system
// writes it with.
std::string Masked(const std::string& text, const std::set<std::string>& known, const std::string& install) {
  const std::string folders[] = {install + "/", testing_support::NativePath(install + "/")};
  std::map<std::string, int> fresh;
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const auto folder = std::find_if(std::begin(folders), std::end(folders), [&](const std::string& f) {
      return text.compare(at, f.size(), f) == 0;
    });
    if (folder != std::end(folders)) {
      out += "<install>/";
      at += folder->size();
    } else if (IsGuidAt(text, at) && !known.count(text.substr(at, kGuidLength))) {
      const auto [slot, added] = fresh.emplace(text.substr(at, kGuidLength), static_cast<int>(fresh.size()) + 1);
      out += "{NEW-" + std::to_string(slot->second) + "}";
      at += kGuidLength;
    } else {
      out.push_back(text[at++]);
    }
  }
  return out;
}

// Where two long texts part, with some context, instead of both whole.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
  const auto parted = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  const size_t at = static_cast<size_t>(parted.first - expected.begin());
  const size_t from = at < 80 ? 0 : at - 80;
  return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
         ", first difference at byte " + std::to_string(at) + "\nexpected: " +
         testing_support::Visible(expected.substr(from, 160)) +
         "\nactual:   " + testing_support::Visible(actual.substr(from, 160));
}

class IntakeOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_bin);
    const std::string data = LVMAPI_INTAKE_DATA;
    testing_support::WriteFile(m_bin + "/bench.db", ReadFile(data + "/bench.db"));
    testing_support::WriteFile(m_incoming, ReadFile(data + "/incoming.txt"));
    // The first reply once more, as a mail-access program that was restarted
    // offers it: recognised as stored, so it adds loads but no rows.
    std::string incoming = ReadFile(m_incoming);
    const size_t bodyStart = incoming.find("<Body1>") + 7;
    const std::string firstBody = incoming.substr(bodyStart, incoming.find("</Body1>") - bodyStart);
    const std::string again = std::to_string(LVMAPI_INTAKE_REPLIES + 1);
    incoming += "<Originator" + again + ">person1@example.org</Originator" + again + ">\r\n<Date" + again +
                ">2027-04-02 09:00:01</Date" + again + ">\r\n<Body" + again + ">" + firstBody + "</Body" + again +
                ">\r\n";
    testing_support::WriteFile(m_incoming, incoming);
    testing_support::WriteMailAccessStandIn(m_bin + "/LVEmailAccess", m_dir.file("calls"), 0,
                                            {{"Corvane Survey", m_incoming}});

    m_known = GuidsIn(incoming);
    for (const auto& row : testing_support::QueryRows(
             m_bin + "/bench.db", "SELECT ReplyID FROM SurveyReply UNION SELECT ResponseID FROM SurveyResponse")) {
      m_known.insert(row[0]);
    }
  }

  // Compares one output with its reference, and writes it out when asked.
  void ExpectAsBefore(const std::string& name, const std::string& output) {
    const std::string masked = Masked(output, m_known, m_bin);
    if (const char* out = std::getenv("LVMAPI_INTAKE_REFERENCE_OUT"); out && *out) {
      testing_support::WriteFile(std::string(out) + "/" + name, masked);
    }
    const std::string path = std::string(LVMAPI_SOURCE_DIR) + "/tests/app/data/intake_reference/" + name;
    // A reference too large to keep as text is kept packed, and unpacked
    // by the build.
    const std::string reference =
        ReadFile(testing_support::Exists(path) ? path : std::string(LVMAPI_INTAKE_DATA) + "/" + name);
    EXPECT_TRUE(masked == reference) << name << ": " << FirstDifference(reference, masked);
  }

  testing_support::ScratchDir m_dir;
  std::string m_bin = m_dir.file("bin");
  std::string m_incoming = m_dir.file("incoming.txt");
  std::set<std::string> m_known;
};

TEST_F(IntakeOutput, StandardOutputRunLogAndStatementsAreAsBefore) {
  const std::string trace = m_dir.file("statements.sql");
  const auto run = testing_support::Run(m_bin + "/LvMAPI", {"bench.db", "4"}, {{"TARNBASE_TRACE", trace}},
                                        m_dir.path());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ExpectAsBefore("stdout.txt", run.out);
  ExpectAsBefore("run_log.txt", ReadFile(m_bin + "/LvMAPI.log"));
  ExpectAsBefore("statements.sql", ReadFile(trace));
  // The replies were stored, the repeated one once.
  EXPECT_EQ(testing_support::QueryRows(m_bin + "/bench.db", "SELECT COUNT(*) FROM SurveyReply WHERE ReplyEmail "
                                                             "LIKE 'person%'")[0][0],
            std::to_string(LVMAPI_INTAKE_REPLIES));
}

}  // namespace
