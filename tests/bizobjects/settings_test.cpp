// The settings lookup over a real Settings table.
#include "bizobjects/settings.h"

#include <gtest/gtest.h>

#include <string>

#include "biz_fixture.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class Settings : public biz_test::DatabaseTest {
 protected:
  void AddRow(const std::string& number, const std::string& strVal, const std::string& bitVal,
              const std::string& intVal) {
    Exec("INSERT INTO Settings (SettingNum, Descr, StrVal, BitVal, IntVal) VALUES ('" + number + "', 'd', '" +
         strVal + "', '" + bitVal + "', '" + intVal + "')");
  }

  struct Outputs {
    bool found = false;
    std::string strVal = "untouched";
    bool bitVal = true;
    int32_t intVal = -99;
  };
  Outputs Lookup(int32_t number, bool bitBefore = true) {
    Outputs out;
    out.bitVal = bitBefore;
    CaptureStdout();
    out.found = GetSetting(&m_connection, number, out.strVal, out.bitVal, out.intVal);
    m_stdout = GetCapturedStdout();
    return out;
  }

  // Both flag readers, each into its own flag; each must report success.
  static void ReadFlags(bool& six, bool& eight) {
    CaptureStdout();
    EXPECT_TRUE(IsSettingSixOn(&six));
    EXPECT_TRUE(LVSAL_GetOutlookAutomationForEmailOn(&eight));
    GetCapturedStdout();
  }

  std::string m_stdout;
};

TEST_F(Settings, BitValIsOnWhenItsNumberIsNotZero) {
  const struct {
    const char* bitVal;
    bool on;
  } cases[] = {{"0", false}, {"", false}, {"1", true}, {"-1", true}, {"2", true}, {"x", false}, {"00", false}};
  for (const auto& c : cases) {
    Exec("DELETE FROM Settings");
    AddRow("6", "text", c.bitVal, "42");
    const Outputs off = Lookup(6, false);
    const Outputs on = Lookup(6, true);
    for (const Outputs& out : {off, on}) {
      EXPECT_TRUE(out.found) << "BitVal '" << c.bitVal << "'";
      EXPECT_EQ(out.bitVal, c.on) << "BitVal '" << c.bitVal << "'";
      EXPECT_EQ(out.strVal, "text");
      EXPECT_EQ(out.intVal, 42);
    }
  }
}

TEST_F(Settings, SettingNumIsReadAsItsLeadingNumber) {
  AddRow("6abc", "six", "1", "7");
  const Outputs six = Lookup(6);
  EXPECT_TRUE(six.found);
  EXPECT_EQ(six.strVal, "six");
  EXPECT_EQ(six.intVal, 7);
  EXPECT_FALSE(Lookup(60).found);
}

TEST_F(Settings, NoMatchingRowLeavesTheOutputsUntouched) {
  AddRow("5", "five", "1", "5");
  for (int32_t number : {8, 0, -1}) {
    for (bool before : {false, true}) {
      const Outputs out = Lookup(number, before);
      EXPECT_FALSE(out.found) << number;
      EXPECT_EQ(out.strVal, "untouched");
      EXPECT_EQ(out.bitVal, before);
      EXPECT_EQ(out.intVal, -99);
    }
  }
}

TEST_F(Settings, OfTwoRowsWithOneNumberTheFirstWins) {
  AddRow("8", "first", "0", "1");
  AddRow("8", "second", "1", "2");
  const Outputs out = Lookup(8);
  EXPECT_TRUE(out.found);
  EXPECT_EQ(out.strVal, "first");
  EXPECT_FALSE(out.bitVal);
  EXPECT_EQ(out.intVal, 1);
}

TEST_F(Settings, TheLookupLoadsTheWholeTableAndKeepsItsLogToItself) {
  AddRow("8", "s", "1", "1");
  AddRow("3", "s", "1", "1");
  Lookup(3);
  EXPECT_EQ(TakeStatements(), "SELECT SettingNum, Descr, StrVal, BitVal, IntVal  FROM Settings\n");
  EXPECT_EQ(m_stdout,
            "CBizObjectCollection::clear()CBizObjectCollection::load()CBizObjectCollection::load()"
            "CBizObjectCollection::clear()\n");
}

TEST_F(Settings, FlagReadersHandBackTheBitOfTheirSetting) {
  AddRow("6", "", "1", "");
  AddRow("8", "", "0", "");
  bool six = false;
  bool eight = true;
  ReadFlags(six, eight);
  EXPECT_TRUE(six);
  EXPECT_FALSE(eight);
}

TEST_F(Settings, FlagReadersLeaveTheFlagWithoutARowAndRefuseNoFlag) {
  for (bool before : {false, true}) {
    bool six = before;
    bool eight = before;
    ReadFlags(six, eight);
    EXPECT_EQ(six, before);
    EXPECT_EQ(eight, before);
  }
  std::string fourLookups;
  for (int i = 0; i < 4; ++i) fourLookups += "SELECT SettingNum, Descr, StrVal, BitVal, IntVal  FROM Settings\n";
  EXPECT_EQ(TakeStatements(), fourLookups);
  EXPECT_FALSE(IsSettingSixOn(nullptr));
  EXPECT_FALSE(LVSAL_GetOutlookAutomationForEmailOn(nullptr));
  EXPECT_EQ(TakeStatements(), "") << "no flag to fill: nothing is read";
}

TEST_F(Settings, AFailingLookupThrowsOut) {
  Exec("DROP TABLE Settings");
  bool flag = true;
  testing::internal::CaptureStderr();
  CaptureStdout();
  EXPECT_THROW(IsSettingSixOn(&flag), std::exception);
  GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(flag);
}

}  // namespace
