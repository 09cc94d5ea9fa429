#include "Platform/File.h"
#include "Common/StringEncoding.h"
#include "Platform/System.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <thread>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::ReadBytes;
using Vexel::Test::TempDir;
using Vexel::Test::WriteBytes;

namespace fs = std::filesystem;

namespace
{
#if !defined(_WIN32)
// Runs change in a child process (another process changing a folder) and waits for it.
template <typename Change> bool InAnotherProcess(Change change)
{
    pid_t child = ::fork();
    if (child == 0)
        ::_exit(change() ? 0 : 1);
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}
#endif

std::size_t EntriesIn(const fs::path& folder)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}
} // namespace

TEST(FileObject, ClosedFileReadsAndWritesNothing)
{
    File file;
    char buffer[4] = {};
    _dword got = 99;
    EXPECT_FALSE(file.Read(buffer, 4, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(file.Read(buffer, 0));
    EXPECT_FALSE(file.Write(buffer, 4));
    EXPECT_EQ(file.Tell(), static_cast<_qword>(-1));
    EXPECT_FALSE(file.Seek(0));
    std::vector<_byte> all{1, 2};
    EXPECT_FALSE(file.ReadAll(all));
    EXPECT_TRUE(all.empty());
}

TEST(FileObject, ReadRules)
{
    TempDir dir;
    WriteBytes(dir / "f.bin", "12345");
    File file;
    ASSERT_TRUE(file.OpenRead(dir.Wide("f.bin")));
    EXPECT_TRUE(file.Read(nullptr, 0)); // size 0 succeeds at once, no buffer needed

    {
        LogCapture capture;
        EXPECT_FALSE(file.Read(nullptr, 3));
        EXPECT_TRUE(capture.Contains(u"buffer != _null"));
    }

    char buffer[8] = {};
    EXPECT_TRUE(file.Read(buffer, 2));
    EXPECT_EQ(std::string(buffer, 2), "12");
    // Three bytes left: a short read fails without a read-out and succeeds with one.
    EXPECT_FALSE(file.Read(buffer, 8));
    ASSERT_TRUE(file.Seek(2));
    _dword got = 0;
    EXPECT_TRUE(file.Read(buffer, 8, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buffer, 3), "345");
    EXPECT_TRUE(file.Read(buffer, 8, &got));
    EXPECT_EQ(got, 0u);
}

TEST(FileObject, PositionalReadsLeaveThePositionAlone)
{
    TempDir dir;
    WriteBytes(dir / "f.bin", "0123456789");
    File file;
    char buffer[8] = {};
    EXPECT_FALSE(file.ReadAt(0, buffer, 1)); // closed
    ASSERT_TRUE(file.OpenRead(dir.Wide("f.bin")));
    ASSERT_TRUE(file.Seek(1));
    ASSERT_TRUE(file.ReadAt(6, buffer, 3));
    EXPECT_EQ(std::string(buffer, 3), "678");
    EXPECT_EQ(file.Tell(), 1u);
    EXPECT_FALSE(file.ReadAt(8, buffer, 3)); // past the end: a short read fails
    EXPECT_TRUE(file.ReadAt(100, buffer, 0));
    ASSERT_TRUE(file.Read(buffer, 2));
    EXPECT_EQ(std::string(buffer, 2), "12");
}

TEST(FileObject, WriteSeekTruncateAndSize)
{
    TempDir dir;
    File file;
    ASSERT_TRUE(file.Create(dir.Wide("w.bin")));
    {
        LogCapture capture;
        EXPECT_FALSE(file.Write(nullptr, 1));
        EXPECT_TRUE(capture.Contains(u"buffer != _null"));
    }
    ASSERT_TRUE(file.Write("abcdef", 6));
    EXPECT_EQ(file.GetSize(), 6u);
    EXPECT_EQ(file.Tell(), 6u);
    ASSERT_TRUE(file.Truncate(4));
    EXPECT_EQ(file.Tell(), 4u);
    ASSERT_TRUE(file.Write("XY", 2));
    ASSERT_TRUE(file.Seek(1));
    ASSERT_TRUE(file.Write("b", 1));
    ASSERT_TRUE(file.SeekToEnd());
    EXPECT_EQ(file.Tell(), 6u);
    std::vector<_byte> all;
    ASSERT_TRUE(file.ReadAll(all));
    EXPECT_EQ(std::string(all.begin(), all.end()), "abcdXY");
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadBytes(dir / "w.bin"), "abcdXY");
}

TEST(FileObject, OpenModes)
{
    TempDir dir;
    WriteBytes(dir / "ro.txt", "old content");
    fs::permissions(dir / "ro.txt", fs::perms::owner_read);
    File file;
    EXPECT_FALSE(file.OpenRead(dir.Wide("missing.txt")));
    EXPECT_FALSE(file.OpenReadWrite(dir.Wide("missing.txt")));
    EXPECT_FALSE(fs::exists(dir / "missing.txt"));
    EXPECT_FALSE(file.OpenRead(dir.Wide())); // a folder is not a file

    // Read-write and create make a read-only file writable first.
    ASSERT_TRUE(file.OpenReadWrite(dir.Wide("ro.txt")));
    EXPECT_TRUE((fs::status(dir / "ro.txt").permissions() & fs::perms::owner_write) != fs::perms::none);
    ASSERT_TRUE(file.Write("NEW", 3));
    file.Close();
    EXPECT_EQ(ReadBytes(dir / "ro.txt"), "NEW content");

    fs::permissions(dir / "ro.txt", fs::perms::owner_read);
    ASSERT_TRUE(file.Create(dir.Wide("ro.txt")));
    EXPECT_EQ(file.GetSize(), 0u);
    // Opening again closes the first handle.
    ASSERT_TRUE(file.OpenRead(dir.Wide("ro.txt")));
}

TEST(FileObject, WriteTextIsUtf16WithOptionalLineEnd)
{
    TempDir dir;
    File file;
    ASSERT_TRUE(file.Create(dir.Wide("t.txt")));
    File::WriteText(u"A\u00e9", file.Handle(), true);
    File::WriteText(u"B", file.Handle(), false);
    File::WriteText(u"ignored", _NULL_FILE_HANDLE, true);
    file.Close();
    EXPECT_EQ(ReadBytes(dir / "t.txt"), std::string("A\0\xe9\0\r\0\n\0B\0", 10));
}

TEST(FileObject, CountersSeparateTheMainThread)
{
    InitializePlatform();
    TempDir dir;
    WriteBytes(dir / "c.bin", "xy");
    FileCounters before = GetFileCounters();
    {
        File file;
        ASSERT_TRUE(file.OpenRead(dir.Wide("c.bin")));
        char b[2];
        ASSERT_TRUE(file.Read(b, 2));
    }
    FileCounters main = GetFileCounters();
    EXPECT_EQ(main.reads - before.reads, 1u);
    EXPECT_EQ(main.mainReads - before.mainReads, 1u);
    EXPECT_EQ(main.others - before.others, 2u); // open and close
    EXPECT_EQ(main.mainOthers - before.mainOthers, 2u);

    std::thread worker(
        [&]
        {
            File file;
            if (file.Create(dir.Wide("d.bin")))
                file.Write("z", 1);
        });
    worker.join();
    FileCounters after = GetFileCounters();
    EXPECT_EQ(after.writes - main.writes, 1u);
    EXPECT_EQ(after.mainWrites, main.mainWrites);
    EXPECT_EQ(after.mainOthers, main.mainOthers);
}

// The POSIX file layer's translation of paths written for a case-blind file system with "\\"; Windows
// takes such paths as they are.
#if !defined(_WIN32)
TEST(NativePaths, BackslashesAndCaseAreResolved)
{
    TempDir dir;
    WriteBytes(dir / "Data" / "Maps" / "Level.TXT", "map");
    String root = dir.Wide();

    EXPECT_EQ(NativePath(root + u"\\Data\\Maps\\Level.TXT"), (dir / "Data/Maps/Level.TXT").string());
    EXPECT_EQ(NativePath(root + u"\\data\\MAPS\\level.txt"), (dir / "Data/Maps/Level.TXT").string());
    EXPECT_TRUE(FileExists(root + u"/DATA\\maps/LEVEL.txt"));
    EXPECT_TRUE(FolderExists(root + u"\\data\\maps"));
    EXPECT_FALSE(FileExists(root + u"\\data\\maps"));
    EXPECT_FALSE(FolderExists(root + u"\\data\\maps\\level.txt"));

    std::vector<_byte> bytes;
    ASSERT_TRUE(ReadFile(root + u"\\DATA\\maps\\LEVEL.TXT", bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "map");

    // A new file in a folder whose name differs in case lands in that folder.
    File file;
    ASSERT_TRUE(file.Create(root + u"\\DATA\\maps\\New.bin"));
    file.Close();
    EXPECT_TRUE(fs::exists(dir / "Data/Maps/New.bin"));
    EXPECT_FALSE(fs::exists(dir / "DATA"));
    // The missing part is kept as written.
    EXPECT_EQ(NativePath(root + u"\\data\\Gone\\x"), (dir / "Data/Gone/x").string());
}

TEST(NativePaths, ChangesByAnyProcessAfterAFolderWasListedAreSeen)
{
    TempDir dir;
    WriteBytes(dir / "Known.txt", "k");
    const String root = dir.Wide();
    // Both lookups read the folder; the missing name is kept as written.
    EXPECT_EQ(NativePath(root + u"/known.txt"), (dir / "Known.txt").string());
    EXPECT_EQ(NativePath(root + u"/later.txt"), (dir / "later.txt").string());

    const std::string later = (dir / "LATER.txt").string();
    ASSERT_TRUE(
        InAnotherProcess([&] { return ::close(::open(later.c_str(), O_CREAT | O_WRONLY, 0644)) == 0; }));
    EXPECT_EQ(NativePath(root + u"/later.txt"), later);
    // Several spellings: the first in byte order.
    WriteBytes(dir / "later.TXT", "2");
    EXPECT_EQ(NativePath(root + u"/Later.txt"), later);
    ASSERT_TRUE(InAnotherProcess([&] { return ::unlink(later.c_str()) == 0; }));
    EXPECT_EQ(NativePath(root + u"/Later.txt"), (dir / "later.TXT").string());

    const std::string known = (dir / "Known.txt").string(), moved = (dir / "MOVED.txt").string();
    ASSERT_TRUE(InAnotherProcess([&] { return std::rename(known.c_str(), moved.c_str()) == 0; }));
    EXPECT_EQ(NativePath(root + u"/known.txt"), (dir / "known.txt").string());
    EXPECT_EQ(NativePath(root + u"/moved.txt"), moved);

    // A folder removed and made again under the same path is listed anew.
    WriteBytes(dir / "Sub" / "Old.txt", "o");
    EXPECT_EQ(NativePath(root + u"/sub/old.txt"), (dir / "Sub/Old.txt").string());
    fs::remove_all(dir / "Sub");
    WriteBytes(dir / "Sub" / "New.txt", "n");
    EXPECT_EQ(NativePath(root + u"/sub/old.txt"), (dir / "Sub/old.txt").string());
    EXPECT_EQ(NativePath(root + u"/sub/new.txt"), (dir / "Sub/New.txt").string());
}

TEST(NativePaths, ExactNamesWinAndTextRoundTrips)
{
    TempDir dir;
    WriteBytes(dir / "a.txt", "lower");
    WriteBytes(dir / "A.txt", "upper");
    std::vector<_byte> bytes;
    ASSERT_TRUE(ReadFile(dir.Wide("A.txt"), bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "upper");

    // Outside the basic plane: one four-byte sequence, not two three-byte ones.
    String wide = u"\U0001F600\u00e9";
    EXPECT_EQ(ToNativeText(wide), "\xF0\x9F\x98\x80\xC3\xA9");
    EXPECT_EQ(FromNativeText("\xF0\x9F\x98\x80\xC3\xA9"), wide);
    // Bytes that are not UTF-8 survive the round trip.
    std::string odd = "x\xFF\xC3y";
    EXPECT_EQ(ToNativeText(FromNativeText(odd)), odd);
    WriteBytes(dir / odd, "odd");
    EXPECT_TRUE(FileExists(dir.Wide() + u"/" + FromNativeText(odd)));
}

#endif

TEST(WholeFiles, WriteFileReplacesWholeAndLeavesNoTemporaries)
{
    TempDir dir;
    String path = dir.Wide("out.bin");
    ASSERT_TRUE(WriteFile(path, "first", 5));
    ASSERT_TRUE(WriteFile(path, std::vector<_byte>{'2', 'n', 'd'}));
    EXPECT_EQ(ReadBytes(dir / "out.bin"), "2nd");
    ASSERT_TRUE(WriteFile(path, nullptr, 0));
    EXPECT_EQ(ReadBytes(dir / "out.bin"), "");
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);

    // The mode a plain create gives, whatever the temporary file's way there; without the wait for the
    // disk the result is the same.
#if !defined(_WIN32)
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(WriteFile(path, "3rd", 3, false));
    ::umask(mask);
    EXPECT_EQ(fs::status(dir / "out.bin").permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                             fs::perms::group_read | fs::perms::others_read);
#else
    ASSERT_TRUE(WriteFile(path, "3rd", 3, false));
#endif
    EXPECT_EQ(ReadBytes(dir / "out.bin"), "3rd");
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);

    EXPECT_FALSE(WriteFile(dir.Wide("missing/out.bin"), "x", 1));
    EXPECT_FALSE(WriteFile(dir.Wide(), "x", 1)); // a folder is never replaced
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(WholeFiles, DeleteCopyMove)
{
    TempDir dir;
    WriteBytes(dir / "ro.txt", "r");
    fs::permissions(dir / "ro.txt", fs::perms::owner_read);
    EXPECT_TRUE(DeleteFile(dir.Wide("RO.TXT")));
    EXPECT_FALSE(fs::exists(dir / "ro.txt"));
    EXPECT_FALSE(DeleteFile(dir.Wide("ro.txt")));
    fs::create_directory(dir / "sub");
    EXPECT_FALSE(DeleteFile(dir.Wide("sub")));
    EXPECT_TRUE(fs::exists(dir / "sub"));

    WriteBytes(dir / "src.txt", "source");
    WriteBytes(dir / "dst.txt", "old target");
    ASSERT_TRUE(CopyFile(dir.Wide("src.txt"), dir.Wide("DST.txt")));
    EXPECT_EQ(ReadBytes(dir / "dst.txt"), "source");
    EXPECT_EQ(ReadBytes(dir / "src.txt"), "source");
    EXPECT_FALSE(CopyFile(dir.Wide("none.txt"), dir.Wide("dst.txt")));
    EXPECT_FALSE(CopyFile(dir.Wide("sub"), dir.Wide("dst2.txt")));
    EXPECT_EQ(ReadBytes(dir / "dst.txt"), "source");

    WriteBytes(dir / "dst.txt", "old again");
    ASSERT_TRUE(MoveFile(dir.Wide("src.txt"), dir.Wide("dst.txt")));
    EXPECT_FALSE(fs::exists(dir / "src.txt"));
    EXPECT_EQ(ReadBytes(dir / "dst.txt"), "source");
    EXPECT_FALSE(MoveFile(dir.Wide("src.txt"), dir.Wide("dst.txt")));
    EXPECT_FALSE(MoveFile(dir.Wide("sub"), dir.Wide("moved")));
    EXPECT_EQ(EntriesIn(dir.Path()), 2u); // sub and dst.txt, no temporaries
}

TEST(WholeFiles, FilesEqual)
{
    TempDir dir;
    std::string big(65536 * 2 + 7, 'q');
    WriteBytes(dir / "a", big);
    WriteBytes(dir / "b", big);
    big[65536 + 3] = 'r';
    WriteBytes(dir / "c", big);
    WriteBytes(dir / "d", big.substr(0, 100));
    WriteBytes(dir / "e", "");
    WriteBytes(dir / "f", "");
    EXPECT_TRUE(FilesEqual(dir.Wide("a"), dir.Wide("b")));
    EXPECT_FALSE(FilesEqual(dir.Wide("a"), dir.Wide("c"))); // differs in the second block
    EXPECT_FALSE(FilesEqual(dir.Wide("a"), dir.Wide("d")));
    EXPECT_TRUE(FilesEqual(dir.Wide("e"), dir.Wide("f")));
    EXPECT_FALSE(FilesEqual(dir.Wide("e"), dir.Wide("missing")));
    EXPECT_FALSE(FilesEqual(dir.Wide("missing"), dir.Wide("missing")));
}

TEST(WholeFiles, FileDigest)
{
    TempDir dir;
    WriteBytes(dir / "abc", "abc");
    EXPECT_EQ(Md5ToText(FileDigest(dir.Wide("abc"))), u"727fe1287d3f96d6b04fd23c98500190");
    EXPECT_TRUE(FileDigest(dir.Wide("missing")).IsZero());
    EXPECT_TRUE(FileDigest(dir.Wide()).IsZero());

    WriteBytes(dir / "empty", "");
    EXPECT_EQ(FileDigest(dir.Wide("empty")), Md5Of("", 0));
    std::string big(65536 * 3 + 11, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 + 7);
    WriteBytes(dir / "big", big);
    EXPECT_EQ(FileDigest(dir.Wide("big")), Md5Of(big.data(), big.size()));
}
