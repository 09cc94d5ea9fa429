// Desktop entries: the Exec line quotes each argument as the desktop entry rules ask, so that the desktop
// starts the program with exactly these arguments; the file is executable; names become file names.
#include "Platform/Folders.h"
#include "Platform/Shortcut.h"
#include "ScopedEnvironment.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace Vexel;
using Vexel::Test::ReadBytes;
using Vexel::Test::ScopedEnvironment;
using Vexel::Test::TempDir;

namespace fs = std::filesystem;

TEST(Shortcuts, ExecLinesQuoteWhatTheDesktopWouldSplitOrExpand)
{
    TempDir dir;
    ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
    Shortcut entry;
    entry.name = u"Vexel Demo";
    entry.target = dir.Wide() + u"/my programs/run";
    entry.arguments = {u"/plain", u"two words", u"a\"q$`\\b", u"100%"};
    entry.workingFolder = dir.Wide() + u"/my programs";
    entry.actions.push_back({u"Uninstall", u"Uninstall", {u"/uninstall"}});
    const String path = ShortcutPath(dir.Wide() + u"/menu", u"Vexel/Demo");
    EXPECT_EQ(path, dir.Wide() + u"/menu/Vexel_Demo.desktop");
    ASSERT_TRUE(CreateShortcut(path, entry));

    const std::string program = "\"" + dir.Path().string() + "/my programs/run\"";
    // Inside quotes ", `, $ and \ take a backslash, and the value's own escaping doubles each backslash;
    // "%" doubles everywhere.
    const std::string exec =
        "Exec=" + program + " /plain \"two words\" \"a\\\\\"q\\\\$\\\\`\\\\\\\\b\" 100%%\n";
    std::string text = ReadBytes(dir / "menu" / "Vexel_Demo.desktop");
    EXPECT_EQ(text.rfind("[Desktop Entry]\nType=Application\n", 0), 0u) << text;
    EXPECT_NE(text.find(exec), std::string::npos) << text;
    EXPECT_NE(text.find("Path=" + dir.Path().string() + "/my programs\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Desktop Action Uninstall]\nName=Uninstall\nExec=" + program + " /uninstall\n"),
              std::string::npos)
        << text;
    EXPECT_NE(fs::status(dir / "menu" / "Vexel_Demo.desktop").permissions() & fs::perms::owner_exec,
              fs::perms::none);

    // Replaced whole, and nothing without a target.
    entry.arguments.clear();
    entry.actions.clear();
    ASSERT_TRUE(CreateShortcut(path, entry));
    EXPECT_EQ(ReadBytes(dir / "menu" / "Vexel_Demo.desktop").find("Desktop Action"), std::string::npos);
    entry.target.clear();
    EXPECT_FALSE(CreateShortcut(dir.Wide() + u"/menu/none.desktop", entry));
    EXPECT_EQ(ShortcutPath(u"/d", u".."), u"/d/_...desktop");
}
