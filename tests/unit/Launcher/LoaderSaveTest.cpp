// Saving a downloaded game module: a module file that cannot be deleted is in use, so the download goes
// under a temporary name beside it; a write that fails leaves the original alone and tells the player.
// Files the system refuses to change (the immutable attribute) stand in for files another client holds.
#include "InstallTestSupport.h"
#include "LoaderTestSupport.h"

#include "Platform/File.h"

namespace Vexel::Test
{
namespace
{

namespace fs = std::filesystem;

class LoaderSaveTest : public LoaderHostWindowTest
{
protected:
    void SetUp() override
    {
        LoaderHostWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        mServer.AddFile("/game/vexel3d.lod", mUpdate);
        mState->mLoader.mPath = mData.Wide("vexel3d.lod");
        WriteBytes(mData / "vexel3d.lod", "the module another client runs");
        mHost->SetLoaderSource(mServer.WideUrl("/game/vexel3d.lod"), DigestText(mUpdate));
    }
    // Downloads until the file is ready (true) or an error is shown (false).
    bool Download()
    {
        EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
        bool ready = false;
        EXPECT_TRUE(WaitUntil(
            [&]
            {
                ready = mHost->PollLoaderDownload();
                return ready || !mHost->ErrorText().empty();
            }));
        return ready;
    }

    const std::string mUpdate = "a newer module build " + std::string(3000, 'm');
    TestServer mServer;
};

TEST_F(LoaderSaveTest, AModuleFileThatCannotBeDeletedGetsATemporaryNameBesideIt)
{
    Busy busy(mData / "vexel3d.lod");
    ASSERT_TRUE(busy.On());
    ASSERT_TRUE(Download());
    EXPECT_TRUE(mHost->UsesTemporaryName());
    const String temporary = mHost->LoaderPath();
    EXPECT_NE(temporary, mData.Wide("vexel3d.lod"));
    EXPECT_EQ(ReadBytes(fs::path(Narrow(temporary))), mUpdate);
    busy.Release();
    mHost->ResetLoaderHost();
    EXPECT_FALSE(FileExists(temporary));
    EXPECT_EQ(ReadBytes(mData / "vexel3d.lod"), "the module another client runs");
}

TEST_F(LoaderSaveTest, AFailedWriteKeepsTheOriginalAndTellsThePlayer)
{
    {
        // Neither the file nor anything beside it can be written.
        Busy folder(mData.Path());
        ASSERT_TRUE(folder.On());
        EXPECT_FALSE(Download());
        EXPECT_EQ(mHost->ErrorText(), u"Loader cannot be saved, contact help@vexel.test");
        EXPECT_FALSE(mHost->UsesTemporaryName());
        EXPECT_TRUE(Logged(u"[MC] Save loader to "));
        EXPECT_TRUE(Logged(u", 0: "));
    }
    // The reset after the failure deletes nothing of the original.
    mHost->ResetLoaderHost();
    EXPECT_EQ(ReadBytes(mData / "vexel3d.lod"), "the module another client runs");
}

} // namespace
} // namespace Vexel::Test
