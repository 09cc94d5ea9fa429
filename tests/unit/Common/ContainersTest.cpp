#include "Common/Array.h"
#include "Common/Owned.h"
#include "Common/Stack.h"
#include "Common/String.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace Vexel;

TEST(Containers, ArrayKeepsItsElementsAcrossGrowth)
{
    // Texts long enough to live on the heap, so a lost or half-copied element shows (and ASan sees a
    // read of freed storage).
    auto text = [](int i) { return String(40 + i, static_cast<char16_t>(u'A' + i % 26)); };
    Array<String> a;
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(a.Append(text(i)), static_cast<std::size_t>(i));
    while (a.Number() < a.Capacity())
        a.Append(u"filler");
    // Appending one of its own elements to a full array: growth must not free it before the copy.
    std::size_t copied = a.Append(a[7]);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(a[i], text(i));
    EXPECT_EQ(a[copied], text(7));
    EXPECT_TRUE(a.RemoveAt(0));
    EXPECT_EQ(a[0], text(1));
    EXPECT_EQ(a[copied - 1], text(7));
}

TEST(Containers, OutOfRangeAccessIsReportedAndHarmless)
{
    Vexel::Test::LogCapture capture;
    Array<int> a{1, 2};
    EXPECT_EQ(a[5], 0);
    EXPECT_TRUE(capture.Contains(u"IsIndexValid( index )"));
    EXPECT_FALSE(a.RemoveAt(2));
    EXPECT_EQ(a.Number(), 2u);

    capture.Clear();
    Stack<int> s;
    EXPECT_FALSE(s.Pop());
    EXPECT_EQ(s.Top(), nullptr);
    EXPECT_TRUE(capture.Contains(u"mLength > 0"));
}

TEST(Containers, StringComparesExactOrAsciiBlind)
{
    String s = u"Data\\Sky.DDS";
    EXPECT_NE(s.Compare(u"data\\sky.dds", true), 0);
    EXPECT_EQ(s.Compare(u"data\\sky.dds", false), 0);
    // Only ASCII letters fold.
    EXPECT_NE(String(u"\u00c9").Compare(u"\u00e9", false), 0);
    EXPECT_EQ(s.SearchChar(u'S'), 5);
    EXPECT_EQ(s.SearchChar(u'S', true), 11);
    EXPECT_EQ(s.SearchChar(u'#'), -1);

    s = u"";
    EXPECT_TRUE(s.Equals(u"", true));
    EXPECT_TRUE(s.Equals(u"", false));
    s = static_cast<const char16_t*>(nullptr);
    EXPECT_TRUE(s.IsEmpty());
}

namespace
{
// A base without a virtual destructor: only the deletion fixed where the object was made finds Derived's.
struct Base
{
    int mValue = 0;
};
struct Derived : Base
{
    explicit Derived(std::vector<String>& log) : mLog(log) {}
    ~Derived() { mLog.push_back(u"derived gone"); }
    std::vector<String>& mLog;
};
struct Watcher
{
    Watcher(std::vector<String>& log, Owned<Watcher>* owner) : mLog(log), mOwner(owner) {}
    // What code run by the deletion sees of its owner.
    ~Watcher() { mLog.push_back(*mOwner == nullptr ? u"owner empty" : u"owner still full"); }
    std::vector<String>& mLog;
    Owned<Watcher>* mOwner;
};
} // namespace

TEST(Containers, OwnedDeletesAsTheMadeTypeOnceAndEmptiesFirst)
{
    std::vector<String> log;
    {
        Owned<Base> owner = std::make_unique<Derived>(log);
        owner->mValue = 7;
        Owned<Base> moved = std::move(owner);
        EXPECT_TRUE(owner == nullptr);
        ASSERT_TRUE(moved);
        EXPECT_EQ(moved->mValue, 7);
        EXPECT_TRUE(log.empty());
        moved = nullptr; // an assignment releases what was held
        EXPECT_EQ(log, (std::vector<String>{u"derived gone"}));
        moved.reset(); // and an empty owner deletes nothing
    }
    EXPECT_EQ(log.size(), 1u);

    Owned<Watcher> watched;
    watched = std::make_unique<Watcher>(log, &watched);
    watched.reset();
    EXPECT_EQ(log.back(), u"owner empty");
    EXPECT_FALSE(watched);
}
