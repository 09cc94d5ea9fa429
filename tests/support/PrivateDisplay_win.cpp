// Windows has one desktop per session and no display server to start: window tests use it as it is.
#include "PrivateDisplay.h"

#include <cstdlib>
#include <cstring>

namespace Vexel::Test
{

bool UsePrivateDisplay()
{
    return true;
}

const std::string& PrivateDisplayError()
{
    static const std::string none;
    return none;
}

bool MissingDisplayIsFailure()
{
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

} // namespace Vexel::Test
