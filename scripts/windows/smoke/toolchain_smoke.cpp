// Proves the toolchain file's promises to LvMAPI's cross build: C++20 with
// posix threads, GoogleTest/GoogleMock and nlohmann-json from the prefix,
// SQLite found through pkg-config, and CTest running it all under Wine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

TEST(ToolchainSmoke, JsonRoundTrip) {
  auto doc = nlohmann::json::parse(R"({"survey": "harvest", "answers": [3, 4, 5]})");
  EXPECT_EQ(doc["survey"], "harvest");
  EXPECT_EQ(doc["answers"].size(), 3u);
  EXPECT_EQ(doc.dump(), R"({"answers":[3,4,5],"survey":"harvest"})");
}

TEST(ToolchainSmoke, SqliteFromPkgConfig) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT upper('amen') || ?1", -1, &stmt, nullptr), SQLITE_OK);
  sqlite3_bind_int(stmt, 1, 7);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "AMEN7");
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST(ToolchainSmoke, ThreadsAndMatchers) {
  std::atomic<int> sum{0};
  std::vector<std::thread> workers;
  for (int i = 1; i <= 4; ++i) workers.emplace_back([&sum, i] { sum += i; });
  for (auto& w : workers) w.join();
  EXPECT_EQ(sum.load(), 10);
  EXPECT_THAT(std::string("Re: choir"), ::testing::StartsWith("Re: "));
}
