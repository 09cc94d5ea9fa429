// Resources built into the program: the files under resources/ at build time, named by their path
// below that folder ("skin/frame.png"); either separator works and case does not matter.
#pragma once

#include "Common/String.h"

#include <cstddef>
#include <vector>

namespace Vexel
{

// Copies the named resource's bytes into buffer. False for an empty name, a missing resource or an
// empty one (buffer is then empty).
bool LoadEmbeddedResource(const String& name, std::vector<_byte>& buffer);

// The table the build generates from resources/, ended by an entry with a null name.
struct EmbeddedResourceEntry
{
    const char* name;
    const unsigned char* data;
    std::size_t size;
};
extern const EmbeddedResourceEntry gEmbeddedResources[];
extern const std::size_t gEmbeddedResourceCount;

} // namespace Vexel
