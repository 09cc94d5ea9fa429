// Parses the input in one call and again in two pieces, checks that both give the same result and the
// same tree, walks the tree (member lookup, every text conversion) and frees it.
#include "Common/Json.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace Vexel;

namespace
{

// The tree in text form, walked without recursion, exercising lookups and conversions on the way.
std::string Walk(const JsonNode* root)
{
    std::string out;
    const JsonNode* n = root;
    while (n)
    {
        out += static_cast<char>('0' + n->mType);
        if (n->mType == _JSON_STRING || n->mType == _JSON_NUMBER)
        {
            out += n->mText;
            std::string utf8 = unescapeToUtf8(n->mText);
            String wide = rawToWide(n->mText);
            String decoded = unescapeToWide(n->mText);
            if (wide.size() > n->mText.size() || utf8.size() > n->mText.size())
                std::abort();
            (void)decoded;
        }
        if (n->mType == _JSON_OBJECT)
        {
            for (const JsonNode* name = n->mFirstChild; name; name = name->mNext)
            {
                const JsonNode* found = findMember(n, name->mText);
                if (!found || found->mText != name->mText)
                    std::abort();
            }
        }
        if (n->mFirstChild)
        {
            if (n->mFirstChild->mParent != n)
                std::abort();
            out += '(';
            n = n->mFirstChild;
            continue;
        }
        while (n != root && !n->mNext)
        {
            n = n->mParent;
            out += ')';
        }
        if (n == root)
            break;
        out += ',';
        n = n->mNext;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);

    JsonContext whole;
    int wholeResult = parseJson(whole, text, size);
    std::string wholeTree = Walk(whole.mRoot);

    // Split where the first byte says, so the fuzzer explores cut points as well.
    std::size_t cut = size ? data[0] % (size + 1) : 0;
    JsonContext pieces;
    int pieceResult = parseJson(pieces, text, cut);
    if (pieceResult == _JSON_INCOMPLETE || pieceResult == _JSON_COMPLETE)
        pieceResult = parseJson(pieces, text + cut, size - cut);
    if (pieceResult != wholeResult || Walk(pieces.mRoot) != wholeTree)
        std::abort();

    // Free a subtree first, then the rest.
    if (pieces.mRoot && pieces.mRoot->mFirstChild)
        freeTree(pieces.mRoot->mFirstChild->mNext ? pieces.mRoot->mFirstChild->mNext
                                                  : pieces.mRoot->mFirstChild);
    Walk(pieces.mRoot);
    resetJson(pieces);
    resetJson(whole);

    // The NUL-terminated form stops at the first NUL.
    std::string terminated(text, size);
    JsonContext plain;
    parseJson(plain, terminated.c_str());
    resetJson(plain);
    return 0;
}
