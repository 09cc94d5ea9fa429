// Bytes from outside (files, URLs, script texts) through the UTF-8 and system code page decoders, into
// destinations of every size. The first byte picks the destination size; the rest is the counted source.
//
// Invariants: nothing is written outside the destination; the output is terminated, is a prefix of the
// whole conversion and is cut exactly when the whole conversion does not fit; the engine's per-unit
// UTF-8 round-trips every unit; the standard decoder is stable after one round.
#include "Common/StringEncoding.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace Vexel;

namespace
{

void Check(bool condition, const char* what)
{
    if (!condition)
    {
        std::fprintf(stderr, "Utf8ToWide invariant broken: %s\n", what);
        std::abort();
    }
}

// A destination of exactly size units on the heap (so an overrun is caught), or a one-unit guard for
// size 0 that must stay untouched.
template <typename Char, typename Convert>
void IntoDestination(_dword size, const std::basic_string<Char>& whole, Convert&& convert)
{
    const Char guard = static_cast<Char>(0x5A);
    std::unique_ptr<Char[]> dest(new Char[size ? size : 1]);
    for (_dword i = 0; i < (size ? size : 1); ++i)
        dest[i] = guard;
    _dword produced = 0xFFFFFFFF;
    bool truncated = false;
    Char* result = convert(dest.get(), size, &produced, &truncated);
    Check(result == dest.get(), "destination returned");
    if (size == 0)
    {
        Check(dest[0] == guard, "zero-size destination untouched");
        Check(produced == 0, "zero-size destination produces nothing");
        Check(truncated == !whole.empty(), "zero-size truncation");
        return;
    }
    Check(produced <= size - 1, "room left for the terminator");
    Check(dest[produced] == 0, "terminated");
    Check(whole.compare(0, produced, dest.get(), produced) == 0, "prefix of the whole conversion");
    Check(truncated == (produced < whole.size()), "truncated exactly when something is left out");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        Check(Utf8ToWide("").empty(), "empty text");
        return 0;
    }
    _dword destSize = data[0] % 40;
    const char* source = reinterpret_cast<const char*>(data + 1);
    _dword length = static_cast<_dword>(size - 1);

    // The engine's per-unit UTF-8.
    String wide = Utf8ToWide(source, length);
    _dword measured = 0;
    Check(Utf8ToWide(nullptr, 0, source, length, &measured) == nullptr, "measuring writes nothing");
    Check(measured == wide.size(), "measure matches the allocation");
    IntoDestination<char16_t>(destSize, wide,
                              [&](char16_t* dest, _dword n, _dword* produced, bool* cut)
                              { return Utf8ToWide(dest, n, source, length, produced, cut); });
    Check(wide.size() <= length, "never more units than bytes");

    // An overlong C0 80 decodes to U+0000, where the buffer forms stop: they see the text before it.
    Check(FromUtf8(ToUtf8(wide)) == wide, "whole-text round trip");
    wide.resize(std::min(wide.size(), wide.find(u'\0')));
    std::string narrow = WideToUtf8(wide.c_str(), wide.Length());
    Check(Utf8ToWide(narrow.c_str(), static_cast<_dword>(narrow.size())) == wide, "per-unit round trip");
    IntoDestination<char>(destSize, narrow,
                          [&](char* dest, _dword n, _dword* produced, bool* cut)
                          { return WideToUtf8(dest, n, wide.c_str(), wide.Length(), produced, cut); });
    // A cut UTF-8 destination ends on a unit boundary: it decodes to a prefix of the units.
    {
        std::unique_ptr<char[]> small(new char[destSize + 1]);
        _dword produced = 0;
        WideToUtf8(small.get(), destSize + 1, wide.c_str(), wide.Length(), &produced);
        String back = Utf8ToWide(small.get(), produced);
        Check(back == wide.substr(0, back.size()), "cut at a unit boundary");
        Check(WideToUtf8(back.c_str(), back.Length()).size() == produced, "no partial unit");
    }

    // The system code page (standard UTF-8 here): stable after one round, whole characters when cut.
    String system = AnsiToWide(source, length);
    std::string encoded = WideToAnsi(system.c_str(), system.Length());
    Check(AnsiToWide(encoded.c_str(), static_cast<_dword>(encoded.size())) == system, "standard round trip");
    IntoDestination<char16_t>(destSize, system,
                              [&](char16_t* dest, _dword n, _dword* produced, bool* cut)
                              {
                                  char16_t* out = AnsiToWide(dest, n, source, length, produced, cut);
                                  if (n > 1 && *produced > 0)
                                  {
                                      char16_t last = dest[*produced - 1];
                                      Check(!(last >= 0xD800 && last <= 0xDBFF), "no half pair at the end");
                                  }
                                  return out;
                              });
    return 0;
}
