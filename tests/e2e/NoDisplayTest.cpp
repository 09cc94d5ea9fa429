// The real launcher started where no display can be opened (a DISPLAY nobody serves, no Wayland
// socket): it says why on its error output and in its trace log, and ends with a non-zero code instead
// of running on without a window.
#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace Vexel::E2e
{
namespace
{

// Sets or removes a variable of this process for the lifetime of the object.
class Variable
{
public:
    Variable(const char* name, const char* value) : mName(name)
    {
        if (const char* old = std::getenv(name))
            mOld = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~Variable()
    {
        if (mOld)
            setenv(mName.c_str(), mOld->c_str(), 1);
        else
            unsetenv(mName.c_str());
    }

private:
    std::string mName;
    std::optional<std::string> mOld;
};

// A display number with no X server behind it.
std::string DeadDisplay()
{
    for (int number = 987;; ++number)
        if (!std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)))
            return ":" + std::to_string(number);
}

TEST(NoDisplayTest, TheClientSaysWhyAndExitsWithAnError)
{
    Portal portal;
    ASSERT_TRUE(portal.Started());
    const std::string display = DeadDisplay();
    Variable dead("DISPLAY", display.c_str());
    Variable noWayland("WAYLAND_DISPLAY", nullptr);
    Client client(portal);
    ASSERT_TRUE(client.Started());
    // The launcher's "no display" status.
    EXPECT_TRUE(client.ExitsWith(3));
    const std::string why = "No display to show the launcher's windows on (DISPLAY \"" + display + "\"";
    EXPECT_NE(client.Errors().find(why), std::string::npos) << client.Errors();
    EXPECT_NE(client.Trace().Text().find(why), std::string::npos) << client.Trace().Text();
    EXPECT_NE(client.Trace().Text().find("the launcher needs a graphical session and exits"),
              std::string::npos);
}

} // namespace
} // namespace Vexel::E2e
