// Settings lookup: rows of the database's Settings table, by number.
//
// Contract: GetSetting loads the whole Settings table on the caller's open
// connection (its log trace is discarded; the collection's trace goes to
// standard output as every collection's does) and takes the first row, in the
// order the database returns them, whose SettingNum read with atoi equals the
// number. The flag readers open a connection of their own and hand back only
// the BitVal flag; without a matching row the flag keeps the caller's value.
// A failing statement throws out of these functions after the database error
// log entry and alert; nothing else fails, except that a flag reader given no
// flag returns false and reads nothing.
#pragma once

#include <cstdint>
#include <string>

class CDBConnection;

// Loads every Settings row; the first whose SettingNum (read with atoi)
// equals `number` supplies StrVal, BitVal (on when atoi is not 0) and IntVal,
// and the result is true. False, outputs untouched, when no row has that
// number.
bool GetSetting(CDBConnection* connection, int32_t number, std::string& strVal, bool& bitVal, int32_t& intVal);

// Setting 6: update the goal's task after each stored goal percentage.
// True once its connection is open.
bool IsSettingSixOn(bool* flag);
// Setting 8: the mail-access program fetches through desktop automation.
// True once its connection is open.
bool LVSAL_GetOutlookAutomationForEmailOn(bool* flag);
