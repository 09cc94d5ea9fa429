// Case-blind lookup of names in a folder, for the POSIX file layer's path resolution.
#pragma once

#include <string>

namespace Vexel::Detail
{

// Sets found to the entry of folder (empty: the current folder) whose name equals name without regard to
// ASCII case, the first in byte order when several do, or to empty when there is none. False when folder
// is not a folder that can be read.
//
// Where the system can report changes to a folder (Linux), each folder's listing is read once and then
// kept current from those reports, so creating many files in one folder costs no listing per file and a
// name made by any process is seen by the next lookup. Elsewhere every lookup reads the folder.
bool FindNameIgnoringCase(const std::string& folder, const std::string& name, std::string& found);

} // namespace Vexel::Detail
