// Packed files (see Common/Compression.h): the packed test and unpacking in place.
#pragma once

#include "Common/String.h"

namespace Vexel
{

// True when the file is at least 20 bytes long and starts like a packed buffer.
bool IsFileCompressed(const String& path);

// Unpacks a packed file in place through "<path>.tmp"; a file that is not packed is left alone and
// reported as success. On failure the packed file stays as it was and no ".tmp" file is left behind.
bool DecompressFile(const String& path);

} // namespace Vexel
