#include "Platform/Resources.h"

namespace Vexel::Detail
{

// Programs here carry no resource section: the generated table is all there is.
bool LoadModuleResource(const String&, std::vector<_byte>&)
{
    return false;
}

} // namespace Vexel::Detail
