// Configuration blocks: saving, loading back into scripts, and bad input.
#include "Script/ScriptConfig.h"
#include "ScriptTestSupport.h"

#include <string>

using namespace Vexel;
using namespace Vexel::Test;

namespace
{
std::string U32(_dword value)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>(value >> (8 * i));
    return out;
}

// A block by hand: one string "s" and a root node holding one array item of the given type and value.
std::string HandBlock(const std::string& name, char type, _dword value)
{
    return "LUC1" + U32(static_cast<_dword>(name.size())) + name + U32(1) + "s" + U32(0xFFFFFFFF) + U32(1) +
           U32(0) + std::string(16, '\0') + std::string(1, type) + U32(value) + U32(0);
}

class ScriptConfigTest : public ScriptTest
{
protected:
    // A configuration captured from the script global name.
    std::unique_ptr<ScriptConfig> Capture(const char* name)
    {
        auto config = std::make_unique<ScriptConfig>();
        lua_State* L = mManager->GetLuaState();
        lua_getglobal(L, name);
        EXPECT_TRUE(config->Capture(L, -1));
        lua_pop(L, 1);
        return config;
    }

    std::string Block(const char* script, const char* name)
    {
        EXPECT_TRUE(Run(FromUtf8(script).c_str()));
        std::vector<_byte> bytes;
        EXPECT_TRUE(Capture(name)->Write(name, bytes));
        return std::string(bytes.begin(), bytes.end());
    }

    void Load(const std::string& bytes)
    {
        mManager->RunBuffer(bytes.data(), static_cast<_dword>(bytes.size()), u"conf", _SCRIPT_RESULT_DISCARD);
    }
};
} // namespace

TEST_F(ScriptConfigTest, SavedTwiceAndLoadedBack)
{
    ASSERT_TRUE(Run(u"settings = { title = 'Vexel', width = 1069, fullscreen = false, ratio = 0.75,"
                    u" servers = { 'one', 'two', { name = 'three', port = 8080 } }, [42] = 'answer',"
                    u" skipped = print, nested = { deep = { deeper = { value = 'x' } } } }"));
    auto config = Capture("settings");
    TempDir dir;
    String path = dir.Wide("settings.luc");
    ASSERT_TRUE(mManager->SaveConfig(config.get(), u"_G.settings", path));
    ASSERT_TRUE(mManager->SaveConfig(config.get(), u"_G.settings", path));
    std::string bytes = ReadBytes(dir / "settings.luc");
    ASSERT_EQ(bytes.size() % 2, 0u);
    std::string half = bytes.substr(0, bytes.size() / 2);
    EXPECT_EQ(half.substr(0, 4), "LUC1");
    EXPECT_EQ(bytes.substr(bytes.size() / 2), half); // two identical consecutive blocks
    EXPECT_EQ(half.substr(4, 12), std::string("\x08\0\0\0settings", 12));

    // A fresh manager reads the file.
    mManager.reset();
    mManager = std::make_unique<LuaScriptManager>();
    mManager->RunFile(path, _SCRIPT_RESULT_DISCARD);
    ASSERT_TRUE(mManager->GetLastError().empty()) << Narrow(mManager->GetLastError());
    Variable check = Eval(u"local s = settings\n"
                          u"return s.title == 'Vexel' and s.width == 1069 and s.fullscreen == false and"
                          u" s.ratio == 0.75 and s.servers[2] == 'two' and s.servers[3].port == 8080 and"
                          u" s[42] == 'answer' and s.skipped == nil and s.nested.deep.deeper.value == 'x' and"
                          u" type(settings_host) == 'userdata' and __luaconf.len(s.servers) == 3");
    EXPECT_TRUE(check.GetBool());
    // Read-only for scripts; iterable through the environment.
    EXPECT_FALSE(Run(u"settings.title = 'changed'"));
    EXPECT_NE(mManager->GetLastError().find(u"read-only configuration"), String::npos);
    EXPECT_EQ(Eval(u"local n = 0 for k, v in __luaconf.pairs(settings) do n = n + 1 end return n").GetInt32(),
              7);
}

TEST_F(ScriptConfigTest, LoadingStopsAtABlockWithoutTheMagic)
{
    std::string first = Block("first = { a = 1 }", "first");
    std::string second = Block("second = { b = 2 }", "second");
    ASSERT_TRUE(Run(u"first = nil second = nil"));
    Load(first + "JUNK" + second);
    EXPECT_EQ(Eval(u"return first.a").GetInt32(), 1);
    EXPECT_TRUE(Eval(u"return second == nil").GetBool());
    Load(first + second);
    EXPECT_EQ(Eval(u"return second.b").GetInt32(), 2);
}

TEST_F(ScriptConfigTest, DamagedBlocksAreReportedAndLoseNothingElse)
{
    std::string good = Block("good = { list = { 1, 2, 3 }, name = 'n' }", "good");
    ASSERT_TRUE(Run(u"good = nil"));
    for (std::size_t cut = 4; cut < good.size(); cut += 3)
    {
        mCapture->Clear();
        Load(good.substr(0, cut));
        EXPECT_TRUE(Logged(u"[LS] Load config nodes failed")) << cut;
    }
    EXPECT_TRUE(Eval(u"return good == nil").GetBool());
    // By hand: a string index past the table, an unknown type, and a name that is not a plain identifier.
    Load(HandBlock("hand", 3, 0));
    EXPECT_EQ(Eval(u"return hand[1]").GetText(), u"s");
    for (const std::string& bad : {HandBlock("hand2", 3, 1), HandBlock("hand2", 9, 0)})
    {
        mCapture->Clear();
        Load(bad);
        EXPECT_TRUE(Logged(u"[LS] Load config nodes failed"));
    }
    mCapture->Clear();
    Load(HandBlock("g;x=1", 2, 0) + good);
    EXPECT_TRUE(Logged(u"[LS] Bad config block name g;x=1"));
    EXPECT_TRUE(Eval(u"return hand2 == nil and x == nil and good.name == 'n'").GetBool());
    ASSERT_TRUE(Run(u"good = nil"));
    Load(good);
    EXPECT_EQ(Eval(u"return good.list[3]").GetInt32(), 3);
}

TEST_F(ScriptConfigTest, SavingFailures)
{
    TempDir dir;
    EXPECT_FALSE(mManager->SaveConfig(nullptr, u"x", dir.Wide("x.luc")));
    EXPECT_TRUE(Logged(u"[LS] Convert config needs a conf object"));
    ASSERT_TRUE(Run(u"conf = { a = 1 }"));
    auto config = Capture("conf");
    EXPECT_FALSE(mManager->SaveConfig(config.get(), u"conf", dir.Wide()));
    EXPECT_TRUE(Logged(u"[LS] Can't create file for saving config"));
    EXPECT_FALSE(mManager->SaveConfig(config.get(), u"not a name", dir.Wide("y.luc")));
    ScriptConfig empty;
    EXPECT_FALSE(mManager->SaveConfig(&empty, u"conf", dir.Wide("z.luc")));
}

TEST_F(ScriptConfigTest, CyclesAreLeftOutAndBoxRefusesStrangers)
{
    ASSERT_TRUE(Run(u"loop = { name = 'l' } loop.self = loop loop.kids = { loop }"));
    std::vector<_byte> bytes;
    ASSERT_TRUE(Capture("loop")->Write("loop", bytes));
    ASSERT_TRUE(Run(u"loop = nil"));
    Load(std::string(bytes.begin(), bytes.end()));
    EXPECT_TRUE(Eval(u"return loop.name == 'l' and loop.self == nil and loop.kids[1] == nil").GetBool());
    EXPECT_TRUE(Eval(u"return __luaconf.box(nil) == nil and __luaconf.box({}) == nil").GetBool());
}
