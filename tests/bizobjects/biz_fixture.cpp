#include "biz_fixture.h"

#include <cstdlib>
#include <filesystem>

#include "tarnbase/tarnbase.h"
#include "platform/environment.h"

namespace biz_test {
namespace {

// The library reads TARNBASE_TRACE once, at its first statement, so the
// variable is set while the test program starts, before any test runs.
struct StatementTrace {
  testing_support::ScratchDir dir;
  std::string path = dir.file("statements.txt");
  std::size_t consumed = 0;
  StatementTrace() { platform::SetEnvironmentValue("TARNBASE_TRACE", path); }
};

StatementTrace& TheTrace() {
  static StatementTrace trace;
  return trace;
}

const bool kTraceInstalled = (TheTrace(), true);

// Building the schema takes a while on a slow disk; it is built once per test
// program and each test gets a copy of that file.
const std::string& SchemaDatabase() {
  static testing_support::ScratchDir dir;
  static const std::string path = [] {
    std::string file = dir.file("schema.db");
    testing_support::CreateDatabase(file);
    return file;
  }();
  return path;
}

}  // namespace

void DatabaseTest::SetUp() {
  ASSERT_TRUE(kTraceInstalled);
  std::filesystem::copy_file(SchemaDatabase(), m_dbPath);
  SetDBPath(m_dbPath.c_str());
  ASSERT_TRUE(m_connection.Open());
  TakeStatements();
}

void DatabaseTest::TearDown() { TarnbaseClose(); }

std::string DatabaseTest::TakeStatements() {
  StatementTrace& trace = TheTrace();
  std::string all = testing_support::ReadFile(trace.path);
  std::string recent = all.size() > trace.consumed ? all.substr(trace.consumed) : std::string();
  trace.consumed = all.size();
  return recent;
}

}  // namespace biz_test
