#include "Platform/System.h"

#include "Common/Kernel.h"

#include <filesystem>
#include <system_error>

namespace Vexel
{

void InitializePlatform()
{
    Kernel().modulePath = GetModulePath();
}

String GetModulePath()
{
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? String() : String(path.u16string());
}

} // namespace Vexel
