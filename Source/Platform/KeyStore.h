// The user's small store of named text values under key paths (such as "Software\Vexel\Downloads"),
// kept per user and surviving restarts. Keys and value names compare without regard to ASCII case.
#pragma once

#include "Common/String.h"

namespace Vexel
{

// True when the key is there, whatever values it holds (none included).
bool UserKeyExists(const String& key);
// False when the value is not there (or the store cannot be read).
bool GetUserValue(const String& key, const String& name, String& value);
// Stores the value, replacing one of the same key and name. The store is rewritten whole or not at all.
bool SetUserValue(const String& key, const String& name, const String& value);
// A number value (a registry DWORD on Windows, its decimal text elsewhere). Reading fails for a value
// that is not a number.
bool GetUserNumber(const String& key, const String& name, _dword& value);
bool SetUserNumber(const String& key, const String& name, _dword value);
// True when the value is gone afterwards (also when it was never there).
bool DeleteUserValue(const String& key, const String& name);
// Every value of the key; true when none is left (also when there was none).
bool DeleteUserKey(const String& key);

// The file that holds the store.
String KeyStorePath();

} // namespace Vexel
