// Settings lookup: rows of the database's Settings table, by number, and the
// two flags the workflows read from it.
#pragma once

#include <cstdint>
#include <string>

class CDBConnection;

// Loads every Settings row on the caller's open connection; the first, in the
// order the database returns them, whose SettingNum (read with atoi) equals
// `number` supplies StrVal, BitVal (on when atoi is not 0) and IntVal, and the
// result is true. False, outputs untouched, when no row has that number. A
// failing statement throws after the database error log entry and alert.
bool GetSetting(CDBConnection* connection, int32_t number, std::string& strVal, bool& bitVal, int32_t& intVal);

// The flag readers open a connection of their own and set `*flag` to the
// setting's BitVal; without a matching row the flag keeps the caller's value.
// True once the connection is open; false, reading nothing, when given no
// flag. A failing statement throws as in GetSetting.

// Setting 6: update the goal's task after each stored goal percentage.
bool IsSettingSixOn(bool* flag);
// Setting 8: the mail-access program fetches through desktop automation.
bool LVSAL_GetOutlookAutomationForEmailOn(bool* flag);
