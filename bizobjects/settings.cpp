#include "bizobjects/settings.h"

// Not built yet: no setting is read so far.
bool GetSetting(CDBConnection*, int32_t, std::string&, bool&, int32_t&) { return false; }
bool IsSettingSixOn(bool*) { return true; }
bool LVSAL_GetOutlookAutomationForEmailOn(bool*) { return true; }
