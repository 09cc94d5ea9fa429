#include "Common/Variable.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace Vexel;
using Vexel::Test::LogCapture;

namespace
{
// Records every release-handler call as (name, release).
std::vector<std::pair<String, _dword>> gHandlerCalls;
void RecordingHandler(Variable* variable, _dword release)
{
    gHandlerCalls.emplace_back(variable->GetName(), release);
}

Variable MakeList(_dword elements)
{
    Variable root(u"root", _VAR_STRUCT);
    Variable& list = root.Create(u"list", _VAR_ARRAY | _VAR_STRUCT);
    root.Create(u"list.id", _VAR_INT32);
    list.Resize(elements);
    return root;
}
} // namespace

// --- Arrays, templates and counts ---------------------------------------------------------------------

TEST(VariableArray, ArrayOfStructuresHasNamedElementsAndCount)
{
    Variable root = MakeList(2);
    Variable& list = root.Find(u"list");
    ASSERT_EQ(list.GetChildCount(), 2u);
    EXPECT_EQ(list.GetChild(0).GetName(), u"[0]");
    EXPECT_EQ(list.GetChild(1).GetName(), u"[1]");
    EXPECT_EQ(list.GetChild(1).GetType(), _VAR_STRUCT);
    EXPECT_EQ(list.GetChild(1).FindChild(u"id").GetType(), _VAR_INT32); // copied from the template
    const Variable& count = root.Find(u"list#");
    EXPECT_EQ(count.GetName(), u"#");
    EXPECT_EQ(count.GetType(), _VAR_UINT32);
    EXPECT_EQ(count.GetUInt32(), 2u);
    EXPECT_EQ(&root.Find(u"list.#"), &count);
    EXPECT_EQ(list.GetTemplate().GetName(), u"");
    EXPECT_EQ(list.GetTemplate().GetType(), _VAR_STRUCT);
}

TEST(VariableArray, ResizeOnlyAppends)
{
    Variable numbers(u"n", _VAR_ARRAY | _VAR_INT32);
    EXPECT_FALSE(numbers.GetTemplate().IsValid());
    EXPECT_TRUE(numbers.Resize(2));
    ASSERT_EQ(numbers.GetChildCount(), 2u);
    EXPECT_EQ(numbers.GetChild(0).GetName(), u"[0]");
    EXPECT_EQ(numbers.GetChild(1).GetType(), _VAR_INT32);
    EXPECT_EQ(numbers.GetCountVariable().GetInt32(), 2);
    numbers.GetChild(0).SetInt32(7);
    numbers.Resize(2);
    ASSERT_EQ(numbers.GetChildCount(), 4u);
    EXPECT_EQ(numbers.GetChild(3).GetName(), u"[3]");
    EXPECT_EQ(numbers.GetChild(0).GetInt32(), 7);
    EXPECT_EQ(numbers.GetCountVariable().GetInt32(), 4);

    EXPECT_FALSE(numbers.Resize(0));
    EXPECT_FALSE(numbers.Resize(0xFFFFFFFF));
    EXPECT_EQ(numbers.GetChildCount(), 4u);

    Variable plain(u"p", _VAR_INT32);
    EXPECT_FALSE(plain.Resize(3));
    EXPECT_EQ(plain.GetChildCount(), 0u);
}

TEST(VariableArray, CountKeptOnlyWhenItIsA32BitInteger)
{
    Variable numbers(u"n", _VAR_ARRAY | _VAR_BOOL);
    numbers.Find(u"#").SetType(_VAR_INT32);
    numbers.Resize(3);
    EXPECT_EQ(numbers.Find(u"#").GetInt32(), 3);
    numbers.Find(u"#").SetType(_VAR_DOUBLE);
    numbers.Resize(1);
    EXPECT_EQ(numbers.Find(u"#").GetDouble(), 0.0);
    EXPECT_EQ(numbers.GetChildCount(), 4u);
}

// --- Paths --------------------------------------------------------------------------------------------

TEST(VariablePath, FindWalksMembersAndElements)
{
    Variable root = MakeList(3);
    root.Create(u"list.name", _VAR_TEXT);
    root.Find(u"list[2].id").SetInt32(42);
    root.Find(u"list[1].name").SetText(u"one");
    EXPECT_EQ(root.Find(u"list[2].id").GetInt32(), 42);
    EXPECT_EQ(root.Find(u"list[1].name").GetText(), u"one");
    EXPECT_EQ(&root.Find(u""), &root);
    EXPECT_EQ(&root.Find(u"list[0]"), &root.Find(u"list").GetChild(0));
    // A template member is reachable through the array itself.
    EXPECT_EQ(&root.Find(u"list.id"), &root.Find(u"list").GetTemplate().FindChild(u"id"));
}

TEST(VariablePath, FailedLookupsGiveTheSharedInvalidVariable)
{
    Variable root = MakeList(3);
    root.Create(u"a", _VAR_INT32);
    const Variable& missing = root.Find(u"list[5]");
    EXPECT_EQ(&missing, &Variable::Invalid());
    EXPECT_EQ(missing.GetType(), _VAR_EMPTY);
    EXPECT_TRUE(missing.GetName().empty());
    EXPECT_FALSE(root.Find(u"A").IsValid()); // names compare exactly
    EXPECT_FALSE(root.Find(u"a.b").IsValid());
    EXPECT_FALSE(root.Find(u"#").IsValid()); // a structure has no count
    EXPECT_FALSE(root.Find(u"list[99999999999999999999999]").IsValid());
    EXPECT_FALSE(root.GetChild(7).IsValid());
    EXPECT_FALSE(root.FindChild(u"nothing").IsValid());
}

TEST(VariablePath, CreateMakesMissingParentsAsStructures)
{
    Variable root(u"", _VAR_STRUCT);
    Variable& c = root.Create(u"a.b.c", _VAR_DOUBLE);
    ASSERT_TRUE(c.IsValid());
    EXPECT_EQ(c.GetName(), u"c");
    EXPECT_EQ(c.GetType(), _VAR_DOUBLE);
    EXPECT_EQ(root.Find(u"a").GetType(), _VAR_STRUCT);
    EXPECT_EQ(root.Find(u"a.b").GetType(), _VAR_STRUCT);
    EXPECT_EQ(&root.Find(u"a.b.c"), &c);
    EXPECT_EQ(root.GetChildCount(), 1u);
}

TEST(VariablePath, CreateReturnsAnExistingMemberUnchanged)
{
    Variable root(u"", _VAR_STRUCT);
    Variable& first = root.Create(u"x.y", _VAR_INT32);
    first.SetInt32(5);
    Variable& second = root.Create(u"x.y", _VAR_DOUBLE);
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(second.GetType(), _VAR_INT32);
    EXPECT_EQ(second.GetInt32(), 5);
    EXPECT_EQ(root.Find(u"x").GetChildCount(), 1u);
}

TEST(VariablePath, CreateThroughAnArrayShapesEveryElement)
{
    Variable root = MakeList(2);
    Variable& added = root.Create(u"list.score", _VAR_FLOAT);
    EXPECT_EQ(&added, &root.Find(u"list").GetTemplate().FindChild(u"score"));
    EXPECT_EQ(root.Find(u"list[0].score").GetType(), _VAR_FLOAT);
    EXPECT_EQ(root.Find(u"list[1].score").GetType(), _VAR_FLOAT);
    root.Find(u"list").Resize(1);
    EXPECT_EQ(root.Find(u"list[2].score").GetType(), _VAR_FLOAT);
    // A member added to one element stays in that element.
    root.Create(u"list[0].extra", _VAR_BOOL);
    EXPECT_TRUE(root.Find(u"list[0].extra").IsValid());
    EXPECT_FALSE(root.Find(u"list[1].extra").IsValid());
}

TEST(VariablePath, CreateRefusesParentsThatCannotHoldMembers)
{
    Variable root(u"", _VAR_STRUCT);
    root.Create(u"n", _VAR_INT32);
    EXPECT_FALSE(root.Create(u"n.x", _VAR_INT32).IsValid());
    // An existing member of the empty type blocks the path instead of looping.
    root.Create(u"e", _VAR_EMPTY);
    EXPECT_FALSE(root.Create(u"e.x", _VAR_INT32).IsValid());
    EXPECT_FALSE(root.Create(u"e.f.x", _VAR_INT32).IsValid());
    EXPECT_FALSE(root.Create(u"a.", _VAR_INT32).IsValid());

    Variable numbers(u"", _VAR_ARRAY | _VAR_INT32);
    LogCapture capture;
    EXPECT_FALSE(numbers.Create(u"x", _VAR_INT32).IsValid());
    EXPECT_TRUE(capture.Contains(u"subvar.mTemplate != _null"));
}

TEST(VariablePath, AddMemberKeepsPathCharactersInTheName)
{
    Variable root(u"", _VAR_STRUCT);
    Variable& member = root.AddMember(u"a.b[1]", _VAR_TEXT);
    ASSERT_TRUE(member.IsValid());
    EXPECT_EQ(&root.FindChild(u"a.b[1]"), &member);
    EXPECT_FALSE(root.Find(u"a").IsValid());
    Variable number(u"", _VAR_INT32);
    EXPECT_FALSE(number.AddMember(u"x", _VAR_INT32).IsValid());
}

// --- Values -------------------------------------------------------------------------------------------

TEST(VariableValue, FloatingValuesTruncateTowardZero)
{
    Variable f(u"f", _VAR_FLOAT);
    f.SetDouble(2.75);
    EXPECT_EQ(f.GetInt32(), 2);
    EXPECT_EQ(f.GetInt64(), 2);
    EXPECT_FLOAT_EQ(f.GetFloat(), 2.75f);
    f.SetDouble(-2.75);
    EXPECT_EQ(f.GetInt32(), -2);
    EXPECT_EQ(f.GetUInt64(), 0xFFFFFFFFFFFFFFFEull); // as its signed form

    Variable d(u"d", _VAR_DOUBLE);
    d.SetDouble(5e9);
    EXPECT_EQ(d.GetUInt64(), 5000000000ull); // all 64 bits, not the low half
    EXPECT_EQ(d.GetInt32(), std::numeric_limits<std::int32_t>::max());
    d.SetDouble(1e300);
    EXPECT_EQ(d.GetInt64(), std::numeric_limits<std::int64_t>::max());
    d.SetDouble(std::nan(""));
    EXPECT_EQ(d.GetInt64(), 0);
    EXPECT_EQ(d.GetUInt64(), 0u);
    f.SetDouble(1e300);
    EXPECT_TRUE(std::isinf(f.GetDouble()));
}

TEST(VariableValue, IntegersKeepTheirSignAndWidth)
{
    Variable small(u"s", _VAR_INT8);
    small.SetInt32(-1);
    EXPECT_EQ(small.GetInt32(), -1);
    EXPECT_EQ(small.GetInt64(), -1);
    EXPECT_EQ(small.GetDouble(), -1.0);
    small.SetInt32(300); // narrows as a C cast
    EXPECT_EQ(small.GetInt32(), 44);
    small.SetDouble(300.5); // floating values saturate
    EXPECT_EQ(small.GetInt32(), 127);

    Variable word(u"w", _VAR_UINT32);
    word.SetInt32(-1);
    EXPECT_EQ(word.GetInt64(), 0xFFFFFFFFll);
    EXPECT_EQ(word.GetInt32(), -1); // its low half
    EXPECT_EQ(word.GetDouble(), 4294967295.0);

    Variable big(u"b", _VAR_UINT64);
    big.SetUInt64(0x100000005ull);
    EXPECT_EQ(big.GetInt32(), 5);
    EXPECT_EQ(big.GetUInt64(), 0x100000005ull);

    Variable flag(u"f", _VAR_BOOL);
    flag.SetInt32(42);
    EXPECT_TRUE(flag.GetBool());
    EXPECT_EQ(flag.GetInt32(), 1);

    Variable ch(u"c", _VAR_WCHAR);
    ch.SetChar(u'\x4E2D');
    EXPECT_EQ(ch.GetChar(), u'\x4E2D');
}

TEST(VariableValue, NonNumericTypesReadAsZero)
{
    int target = 0;
    Variable pointer(u"p", _VAR_POINTER);
    EXPECT_TRUE(pointer.SetPointer(&target));
    EXPECT_EQ(pointer.GetPointer(), &target);
    EXPECT_EQ(pointer.GetInt64(), 0);
    EXPECT_FALSE(pointer.SetInt32(3));

    Variable text(u"t", _VAR_TEXT);
    text.SetText(u"12");
    EXPECT_EQ(text.GetInt32(), 0);
    EXPECT_EQ(text.GetDouble(), 0.0);
    EXPECT_EQ(Variable(u"s", _VAR_STRUCT).GetUInt64(), 0u);

    Variable ref(u"r", _VAR_SCRIPTREF);
    EXPECT_TRUE(ref.SetScriptRef(-2));
    EXPECT_EQ(ref.GetScriptRef(), -2);
    EXPECT_EQ(ref.GetInt32(), -2);
    EXPECT_EQ(Variable(u"i", _VAR_INT32).GetScriptRef(), 0);
}

TEST(VariableValue, TextAndBinaryOnlyOnTheirOwnTypes)
{
    Variable number(u"n", _VAR_INT32);
    number.SetInt32(9);
    EXPECT_FALSE(number.SetText(u"text"));
    EXPECT_FALSE(number.SetBinary("ab", 2));
    EXPECT_EQ(number.GetType(), _VAR_INT32);
    EXPECT_EQ(number.GetInt32(), 9);
    EXPECT_TRUE(number.GetText().empty());

    Variable text(u"t", _VAR_TEXT);
    EXPECT_TRUE(text.SetText(u"hello world"));
    EXPECT_TRUE(text.SetText(std::u16string_view(text.GetText()).substr(6))); // from its own text
    EXPECT_EQ(text.GetText(), u"world");
    EXPECT_TRUE(text.SetText(u""));
    EXPECT_TRUE(text.GetText().empty());

    Variable binary(u"b", _VAR_BINARY);
    const _byte bytes[] = {0, 1, 2, 0xFF};
    EXPECT_TRUE(binary.SetBinary(bytes, sizeof(bytes)));
    ASSERT_EQ(binary.GetBinarySize(), 4u);
    EXPECT_EQ(binary.GetBinaryData()[3], 0xFF);
    EXPECT_TRUE(binary.SetBinary(binary.GetBinaryData() + 1, 2)); // from its own block
    ASSERT_EQ(binary.GetBinarySize(), 2u);
    EXPECT_EQ(binary.GetBinaryData()[0], 1);
    EXPECT_TRUE(binary.SetBinary(nullptr, 0));
    EXPECT_EQ(binary.GetBinaryData(), nullptr);
}

TEST(VariableValue, TheInvalidVariableIsNeverWritten)
{
    Variable root(u"", _VAR_STRUCT);
    LogCapture capture;
    Variable& missing = root.Find(u"nothing");
    EXPECT_FALSE(missing.SetInt32(1));
    missing.SetType(_VAR_TEXT);
    missing.SetName(u"renamed");
    EXPECT_FALSE(missing.Create(u"x", _VAR_INT32).IsValid());
    missing = Variable(u"other", _VAR_INT32);
    EXPECT_TRUE(capture.Contains(u"never written"));
    EXPECT_EQ(Variable::Invalid().GetType(), _VAR_EMPTY);
    EXPECT_TRUE(Variable::Invalid().GetName().empty());
    EXPECT_EQ(Variable::Invalid().GetChildCount(), 0u);

    // Moving out of it copies: the shared node stays as it is.
    Variable taken(std::move(missing));
    EXPECT_EQ(taken.GetType(), _VAR_EMPTY);
}

// --- Copies, clearing and release handlers ------------------------------------------------------------

TEST(VariableCopy, CopiesAreDeepAndIndependent)
{
    Variable source(u"src", _VAR_TEXT);
    source.SetText(u"kept");
    source.SetKeyNumber(3);
    Variable copy(u"copy", _VAR_INT32);
    EXPECT_TRUE(copy.CopyFrom(source));
    source.Clear();
    EXPECT_EQ(copy.GetText(), u"kept");
    EXPECT_EQ(copy.GetName(), u"src");
    EXPECT_EQ(copy.GetKeyNumber(), 3.0);
    EXPECT_TRUE(copy.HasKeyNumber());
    EXPECT_EQ(source.GetName(), u"src"); // the name outlives Clear
    EXPECT_TRUE(source.GetText().empty());
    EXPECT_FALSE(source.HasKeyNumber());

    Variable tree = MakeList(2);
    tree.Find(u"list[1].id").SetInt32(11);
    Variable other(tree);
    tree.Find(u"list[1].id").SetInt32(12);
    tree.Find(u"list").Resize(1);
    EXPECT_EQ(other.Find(u"list[1].id").GetInt32(), 11);
    EXPECT_EQ(other.Find(u"list#").GetUInt32(), 2u);
    EXPECT_EQ(other.Find(u"list").GetChildCount(), 2u);
    EXPECT_TRUE(other.Find(u"list").GetTemplate().FindChild(u"id").IsValid());
}

TEST(VariableCopy, CopyingFromInsideTheOwnSubtreeIsSafe)
{
    Variable root(u"root", _VAR_STRUCT);
    root.Create(u"a.b.c", _VAR_TEXT).SetText(u"deep");
    EXPECT_TRUE(root.CopyFrom(root.Find(u"a.b")));
    EXPECT_EQ(root.GetName(), u"b");
    EXPECT_EQ(root.Find(u"c").GetText(), u"deep");
    EXPECT_TRUE(root.CopyFrom(root));
    EXPECT_EQ(root.Find(u"c").GetText(), u"deep");

    Variable moved(u"m", _VAR_STRUCT);
    moved.Create(u"x.y", _VAR_INT32).SetInt32(4);
    moved = std::move(moved.Find(u"x"));
    EXPECT_EQ(moved.GetName(), u"x");
    EXPECT_EQ(moved.Find(u"y").GetInt32(), 4);
}

TEST(VariableCopy, ReleaseHandlerSeesClearCopyAndDestruction)
{
    gHandlerCalls.clear();
    {
        Variable ref(u"ref", _VAR_SCRIPTREF);
        ref.SetScriptRef(7);
        ref.SetReleaseHandler(RecordingHandler);
        {
            Variable copy(ref); // the copy is announced with 0
            ASSERT_EQ(gHandlerCalls.size(), 1u);
            EXPECT_EQ(gHandlerCalls[0].second, 0u);
            EXPECT_EQ(copy.GetScriptRef(), 7);
            EXPECT_EQ(copy.GetReleaseHandler(), &RecordingHandler);
        }
        ASSERT_EQ(gHandlerCalls.size(), 2u);
        EXPECT_EQ(gHandlerCalls[1].second, 1u);

        Variable moved(std::move(ref)); // moves call nothing
        EXPECT_EQ(gHandlerCalls.size(), 2u);
        EXPECT_EQ(ref.GetReleaseHandler(), nullptr);
        moved.Clear();
        ASSERT_EQ(gHandlerCalls.size(), 3u);
        EXPECT_EQ(gHandlerCalls[2].second, 1u);
        moved.Clear(); // forgotten after the first call
        EXPECT_EQ(gHandlerCalls.size(), 3u);
    }
    EXPECT_EQ(gHandlerCalls.size(), 3u);

    // Members are released parent first, then in order; SetType releases like Clear.
    gHandlerCalls.clear();
    Variable tree(u"tree", _VAR_STRUCT);
    tree.SetReleaseHandler(RecordingHandler);
    tree.Create(u"a", _VAR_SCRIPTREF).SetReleaseHandler(RecordingHandler);
    tree.Create(u"b.c", _VAR_SCRIPTREF).SetReleaseHandler(RecordingHandler);
    tree.SetType(_VAR_INT32);
    ASSERT_EQ(gHandlerCalls.size(), 3u);
    EXPECT_EQ(gHandlerCalls[0].first, u"tree");
    EXPECT_EQ(gHandlerCalls[1].first, u"a");
    EXPECT_EQ(gHandlerCalls[2].first, u"c");
    EXPECT_EQ(tree.GetName(), u"tree");
    EXPECT_EQ(tree.GetChildCount(), 0u);
    EXPECT_EQ(tree.GetReleaseHandler(), nullptr);
}

TEST(VariableCopy, DeepTreesCopyAndDieWithoutRecursion)
{
    constexpr int depth = 200000;
    Variable root(u"root", _VAR_STRUCT);
    Variable* node = &root;
    for (int i = 0; i < depth; ++i)
        node = &node->AddMember(u"n", _VAR_STRUCT);
    node->AddMember(u"leaf", _VAR_INT32).SetInt32(1);
    Variable copy(root);
    const Variable* walk = &copy;
    int levels = 0;
    while (walk->GetChildCount() == 1 && walk->GetChild(0).GetName() == u"n")
    {
        walk = &walk->GetChild(0);
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(walk->FindChild(u"leaf").GetInt32(), 1);
    root.Clear();
    EXPECT_EQ(root.GetChildCount(), 0u);
}
