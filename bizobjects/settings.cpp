#include "bizobjects/settings.h"

#include <cstdlib>
#include <sstream>

#include "bizobjects/table_store.h"
#include "data/db_connection.h"

bool GetSetting(CDBConnection* connection, int32_t number, std::string& strVal, bool& bitVal, int32_t& intVal) {
  // The log decorator's trace is thrown away; the collection's own trace
  // still goes to standard output, as every collection's does.
  CSettingss settings;
  std::ostringstream discardedTrace;
  if (!LoadTable(connection, settings, discardedTrace)) return false;
  for (const CSettings* setting : settings) {
    if (std::atoi(setting->GetSettingNum().c_str()) != number) continue;
    strVal = setting->GetStrVal();
    bitVal = std::atoi(setting->GetBitVal().c_str()) != 0;
    intVal = std::atoi(setting->GetIntVal().c_str());
    return true;
  }
  return false;
}

namespace {

// Each reader works on a connection of its own and hands back the flag only;
// without a matching row the flag keeps the caller's value.
bool ReadSettingFlag(int32_t number, bool* flag) {
  if (!flag) return false;
  CDBConnection connection;
  if (!connection.Open()) return false;
  std::string strVal;
  int32_t intVal = 0;
  GetSetting(&connection, number, strVal, *flag, intVal);
  return true;
}

}  // namespace

bool IsSettingSixOn(bool* flag) { return ReadSettingFlag(6, flag); }

bool LVSAL_GetOutlookAutomationForEmailOn(bool* flag) { return ReadSettingFlag(8, flag); }
