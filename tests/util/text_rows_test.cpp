#include "util/text_rows.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Rows of every shape (empty texts, one larger than a chunk, enough to fill
// several chunks) read back as appended, also after the chunks of earlier
// rows were given back and taken again; a row of another column count is
// refused.
TEST(TextRows, GiveBackEveryTextAsAppendedAcrossChunksAndReuse) {
  const std::string large(3 * 1024 * 1024, 'x');
  for (int round = 0; round < 2; ++round) {
    TextRows rows(3);
    std::vector<std::vector<std::string>> expected;
    for (int i = 0; i < 20000; ++i) {
      std::vector<std::string> row = {"{key " + std::to_string(i) + "}", i % 3 == 0 ? "" : "middle",
                                      i == 7000 ? large : std::string(static_cast<std::size_t>(i % 100), 'a')};
      rows.Append(std::vector<std::string_view>(row.begin(), row.end()));
      expected.push_back(row);
    }
    EXPECT_THROW(rows.Append(std::vector<std::string_view>{"a", "b"}), std::invalid_argument);  // nothing kept
    ASSERT_EQ(rows.Count(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r) {
      for (std::size_t c = 0; c < 3; ++c) ASSERT_EQ(rows.Text(r, c), expected[r][c]) << r << " " << c;
    }
    TextRows moved = std::move(rows);
    EXPECT_EQ(moved.Text(7000, 2).size(), large.size());
    moved.Clear();
    EXPECT_TRUE(moved.Empty());
  }
}

}  // namespace
