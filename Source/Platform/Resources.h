// Resources built into the program: the files under resources/ at build time, named by their path
// below that folder ("skin/frame.png"); either separator works and case does not matter. On Windows the
// program's own resources of type "VEXELRES" come first (so an operator can replace one in the program
// file with a resource editor), then the generated table.
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

namespace Detail
{
// The program file's own resource of type "VEXELRES" called name ("/" separators); false where there is
// none or the system keeps no such resources.
bool LoadModuleResource(const String& name, std::vector<_byte>& buffer);
} // namespace Detail

} // namespace Vexel
