// Choosing the game's loader from the game page: its address, digest, size, parameters and CDN list come
// from the page's `param` elements; the data folder and the loader path follow from the size.
#pragma once

#include "Base/LauncherState.h"

namespace Vexel
{

constexpr _dword _PARAM_READ_INTERVAL = 100; // ms between readings of a page that is not ready yet
constexpr const char16_t* _LOADER_FILE = u"vexel3d.lod";

// Called on every web idle turn while the game parameters are awaited (game state 1). True when the
// loader was chosen: the game state is then 2 and the pass ends.
bool ChooseLoader(LauncherState& state);

// Settles the data folder for a game of sizeMb MiB, makes it the current folder, and sets the loader
// path in it. Returns the folder.
String ChooseDataFolder(LauncherState& state, int sizeMb);

// Text with spaces and tabs cut from both ends.
String TrimBlank(const String& text);

// CDN addresses written "a|b|c": each part cut of spaces and tabs, empty parts left out.
std::vector<String> SplitCdnList(const String& text);

} // namespace Vexel
