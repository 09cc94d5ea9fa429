// Case-blind lookup of names in a folder, for the POSIX file layer's path resolution.
#pragma once

#include <string>

namespace Vexel::Detail
{

// The entry of folder (empty: the current folder) whose name equals name without regard to ASCII case,
// the first in byte order when several do; empty when there is none or the folder cannot be read.
//
// Where the system can report changes to a folder (Linux), each folder's listing is read once and then
// kept current from those reports, so creating many files in one folder costs no listing per file and a
// name made by any process is seen by the next lookup. Elsewhere every lookup reads the folder.
std::string FindNameIgnoringCase(const std::string& folder, const std::string& name);

} // namespace Vexel::Detail
