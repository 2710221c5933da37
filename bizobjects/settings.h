// Settings lookup: rows of the Settings table by number.
#pragma once

#include <cstdint>
#include <string>

class CDBConnection;

// Loads every Settings row; the first whose SettingNum (read with atoi)
// equals `number` supplies StrVal, BitVal (on when atoi is not 0) and IntVal.
// False, outputs untouched, when no row has that number.
bool GetSetting(CDBConnection* connection, int32_t number, std::string& strVal, bool& bitVal, int32_t& intVal);

// Setting 6: update the goal's task after each stored goal percentage.
bool IsSettingSixOn(bool* flag);
// Setting 8: the mail-access program fetches through desktop automation.
bool LVSAL_GetOutlookAutomationForEmailOn(bool* flag);
