#include "Common/StringFormatter.h"

#include "Common/Assert.h"

#include <cstdio>
#include <cstring>

namespace Vexel
{

namespace
{

// Writes into the caller's buffer, silently dropping what does not fit before the terminator.
class Sink
{
public:
    Sink(char16_t* buffer, std::size_t length) : mBuffer(buffer), mLimit(length - 1) {}

    void Put(char16_t c)
    {
        if (mUsed < mLimit)
            mBuffer[mUsed++] = c;
    }
    void Repeat(char16_t c, long count)
    {
        for (; count > 0; --count)
            Put(c);
    }
    std::size_t Finish()
    {
        mBuffer[mUsed] = 0;
        return mUsed;
    }

private:
    char16_t* mBuffer;
    std::size_t mLimit;
    std::size_t mUsed = 0;
};

struct Spec
{
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    long width = 0;
    long precision = -1;
    int lengthBytes = 0; // 0: the argument's own size
    char16_t conversion = 0;
};

constexpr long _MAX_FIELD = 4096;

void EmitPadded(Sink& out, const Spec& spec, const char16_t* prefix, std::size_t prefixLength,
                const char16_t* body, std::size_t bodyLength, long zeros)
{
    long total = static_cast<long>(prefixLength + bodyLength) + zeros;
    long pad = spec.width > total ? spec.width - total : 0;
    if (!spec.left)
        out.Repeat(u' ', pad);
    for (std::size_t i = 0; i < prefixLength; ++i)
        out.Put(prefix[i]);
    out.Repeat(u'0', zeros);
    for (std::size_t i = 0; i < bodyLength; ++i)
        out.Put(body[i]);
    if (spec.left)
        out.Repeat(u' ', pad);
}

std::uint64_t Truncate(std::uint64_t value, int bytes)
{
    return bytes >= 8 ? value : (value & ((std::uint64_t(1) << (bytes * 8)) - 1));
}

std::int64_t SignExtend(std::uint64_t value, int bytes)
{
    if (bytes >= 8)
        return static_cast<std::int64_t>(value);
    int shift = 64 - bytes * 8;
    return static_cast<std::int64_t>(value << shift) >> shift;
}

void EmitInteger(Sink& out, Spec spec, const FormatArg* arg)
{
    std::uint64_t raw = 0;
    int bytes = 4;
    bool fromFloat = false;
    double floating = 0;
    if (arg)
    {
        switch (arg->kind)
        {
        case FormatArg::Kind::Signed:
        case FormatArg::Kind::Unsigned:
            raw = arg->u;
            bytes = arg->size;
            break;
        case FormatArg::Kind::Float:
            fromFloat = true;
            floating = arg->d;
            bytes = 8;
            break;
        case FormatArg::Kind::Pointer:
            raw = reinterpret_cast<std::uintptr_t>(arg->p);
            bytes = sizeof(void*);
            break;
        default:
            break;
        }
    }
    if (spec.lengthBytes)
        bytes = spec.lengthBytes;

    bool isSigned = spec.conversion == u'd' || spec.conversion == u'i';
    bool negative = false;
    std::uint64_t magnitude;
    if (fromFloat)
    {
        // A float handed to an integer directive prints its value truncated toward zero.
        std::int64_t v = static_cast<std::int64_t>(floating);
        raw = static_cast<std::uint64_t>(v);
    }
    if (isSigned)
    {
        std::int64_t v = SignExtend(Truncate(raw, bytes), bytes);
        negative = v < 0;
        magnitude = negative ? (~static_cast<std::uint64_t>(v) + 1) : static_cast<std::uint64_t>(v);
    }
    else
    {
        magnitude = Truncate(raw, bytes);
    }

    unsigned base = 10;
    const char16_t* digits = u"0123456789abcdef";
    if (spec.conversion == u'x')
        base = 16;
    else if (spec.conversion == u'X')
    {
        base = 16;
        digits = u"0123456789ABCDEF";
    }
    else if (spec.conversion == u'o')
        base = 8;

    char16_t body[72];
    std::size_t n = 0;
    char16_t reversed[72];
    std::uint64_t v = magnitude;
    while (v != 0)
    {
        reversed[n++] = digits[v % base];
        v /= base;
    }
    // Precision 0 with value 0 prints no digits, as in C.
    if (n == 0 && spec.precision != 0)
        reversed[n++] = u'0';
    for (std::size_t i = 0; i < n; ++i)
        body[i] = reversed[n - 1 - i];

    char16_t prefix[3];
    std::size_t prefixLength = 0;
    if (negative)
        prefix[prefixLength++] = u'-';
    else if (isSigned && spec.plus)
        prefix[prefixLength++] = u'+';
    else if (isSigned && spec.space)
        prefix[prefixLength++] = u' ';
    if (spec.alternate && magnitude != 0 && base == 16)
    {
        prefix[prefixLength++] = u'0';
        prefix[prefixLength++] = spec.conversion;
    }
    else if (spec.alternate && base == 8 && (n == 0 || body[0] != u'0'))
        prefix[prefixLength++] = u'0';

    long zeros = 0;
    if (spec.precision >= 0)
        zeros = spec.precision > static_cast<long>(n) ? spec.precision - static_cast<long>(n) : 0;
    else if (spec.zero && !spec.left)
    {
        long used = static_cast<long>(prefixLength + n);
        zeros = spec.width > used ? spec.width - used : 0;
    }
    EmitPadded(out, spec, prefix, prefixLength, body, n, zeros);
}

void EmitFloat(Sink& out, const Spec& spec, const FormatArg* arg)
{
    double value = 0;
    if (arg)
    {
        if (arg->kind == FormatArg::Kind::Float)
            value = arg->d;
        else if (arg->kind == FormatArg::Kind::Signed)
            value = static_cast<double>(SignExtend(arg->u, arg->size));
        else if (arg->kind == FormatArg::Kind::Unsigned)
            value = static_cast<double>(arg->u);
    }
    char format[32];
    std::size_t f = 0;
    format[f++] = '%';
    if (spec.left)
        format[f++] = '-';
    if (spec.plus)
        format[f++] = '+';
    if (spec.space)
        format[f++] = ' ';
    if (spec.alternate)
        format[f++] = '#';
    if (spec.zero)
        format[f++] = '0';
    format[f++] = '*';
    format[f++] = '.';
    format[f++] = '*';
    format[f++] = static_cast<char>(spec.conversion);
    format[f] = 0;
    char text[640];
    long precision = spec.precision < 0 ? 6 : (spec.precision > 100 ? 100 : spec.precision);
    long width = spec.width > 500 ? 500 : spec.width;
    int produced =
        std::snprintf(text, sizeof text, format, static_cast<int>(width), static_cast<int>(precision), value);
    if (produced < 0)
        return;
    std::size_t length = static_cast<std::size_t>(produced) < sizeof text ? produced : sizeof text - 1;
    for (std::size_t i = 0; i < length; ++i)
        out.Put(static_cast<unsigned char>(text[i]));
    // Widths beyond what the scratch buffer holds are padded here.
    if (spec.width > width)
        out.Repeat(u' ', spec.width - width);
}

void EmitText(Sink& out, const Spec& spec, const FormatArg* arg)
{
    if (arg && arg->kind != FormatArg::Kind::WideText && arg->kind != FormatArg::Kind::NarrowText)
    {
        // A number under a text directive prints as a number.
        Spec numeric = spec;
        numeric.conversion = arg->kind == FormatArg::Kind::Float     ? u'g'
                             : arg->kind == FormatArg::Kind::Signed  ? u'd'
                             : arg->kind == FormatArg::Kind::Pointer ? u'X'
                                                                     : u'u';
        numeric.precision = -1;
        if (numeric.conversion == u'g')
            EmitFloat(out, numeric, arg);
        else
            EmitInteger(out, numeric, arg);
        return;
    }
    std::size_t length = arg ? arg->length : 0;
    if (spec.precision >= 0 && static_cast<std::size_t>(spec.precision) < length)
        length = static_cast<std::size_t>(spec.precision);
    long pad = spec.width > static_cast<long>(length) ? spec.width - static_cast<long>(length) : 0;
    if (!spec.left)
        out.Repeat(u' ', pad);
    if (arg && arg->kind == FormatArg::Kind::WideText)
        for (std::size_t i = 0; i < length; ++i)
            out.Put(arg->ws[i]);
    else if (arg)
        // Narrow text is taken byte for byte, as the C runtime's "%hs" widens each character.
        for (std::size_t i = 0; i < length; ++i)
            out.Put(static_cast<unsigned char>(arg->ns[i]));
    if (spec.left)
        out.Repeat(u' ', pad);
}

void EmitChar(Sink& out, const Spec& spec, const FormatArg* arg)
{
    char16_t c = 0;
    if (arg && arg->kind == FormatArg::Kind::WideText && arg->length)
        c = arg->ws[0];
    else if (arg && arg->kind != FormatArg::Kind::Float)
        c = static_cast<char16_t>(arg->u);
    long pad = spec.width > 1 ? spec.width - 1 : 0;
    if (!spec.left)
        out.Repeat(u' ', pad);
    out.Put(c);
    if (spec.left)
        out.Repeat(u' ', pad);
}

long ReadNumber(const char16_t*& p)
{
    long value = 0;
    while (*p >= u'0' && *p <= u'9')
    {
        if (value < _MAX_FIELD)
            value = value * 10 + (*p - u'0');
        ++p;
    }
    return value > _MAX_FIELD ? _MAX_FIELD : value;
}

long ArgAsNumber(const FormatArg* arg)
{
    if (!arg)
        return 0;
    std::int64_t v = arg->kind == FormatArg::Kind::Signed     ? SignExtend(arg->u, arg->size)
                     : arg->kind == FormatArg::Kind::Unsigned ? static_cast<std::int64_t>(arg->u)
                                                              : 0;
    return v > _MAX_FIELD ? _MAX_FIELD : (v < -_MAX_FIELD ? -_MAX_FIELD : static_cast<long>(v));
}

} // namespace

std::size_t FormatArgs(char16_t* buffer, std::size_t length, const char16_t* format, const FormatArg* args,
                       std::size_t count)
{
    Sink out(buffer, length);
    std::size_t next = 0;
    auto take = [&]() -> const FormatArg* { return next < count ? &args[next++] : (++next, nullptr); };

    for (const char16_t* p = format; *p; ++p)
    {
        if (*p != u'%')
        {
            out.Put(*p);
            continue;
        }
        const char16_t* start = p++;
        if (*p == u'%')
        {
            out.Put(u'%');
            continue;
        }
        Spec spec;
        for (;; ++p)
        {
            if (*p == u'-')
                spec.left = true;
            else if (*p == u'+')
                spec.plus = true;
            else if (*p == u' ')
                spec.space = true;
            else if (*p == u'#')
                spec.alternate = true;
            else if (*p == u'0')
                spec.zero = true;
            else
                break;
        }
        if (*p == u'*')
        {
            spec.width = ArgAsNumber(take());
            if (spec.width < 0)
            {
                spec.left = true;
                spec.width = -spec.width;
            }
            ++p;
        }
        else
            spec.width = ReadNumber(p);
        if (*p == u'.')
        {
            ++p;
            if (*p == u'*')
            {
                spec.precision = ArgAsNumber(take());
                ++p;
            }
            else
                spec.precision = ReadNumber(p);
        }
        // Length modifiers: only "h" and "hh" narrow an integer; the others are accepted and read from
        // the argument itself.
        for (;;)
        {
            if (*p == u'h')
            {
                spec.lengthBytes = spec.lengthBytes == 2 ? 1 : 2;
                ++p;
            }
            else if (*p == u'l' || *p == u'L' || *p == u'q' || *p == u'j' || *p == u'z' || *p == u't' ||
                     *p == u'w')
                ++p;
            else if (*p == u'I')
            {
                ++p;
                if (p[0] == u'6' && p[1] == u'4')
                {
                    spec.lengthBytes = 8;
                    p += 2;
                }
                else if (p[0] == u'3' && p[1] == u'2')
                {
                    spec.lengthBytes = 4;
                    p += 2;
                }
            }
            else
                break;
        }
        spec.conversion = *p;
        switch (*p)
        {
        case u'd':
        case u'i':
        case u'u':
        case u'x':
        case u'X':
        case u'o':
            EmitInteger(out, spec, take());
            break;
        case u'f':
        case u'F':
        case u'e':
        case u'E':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            EmitFloat(out, spec, take());
            break;
        case u's':
        case u'S':
            if (spec.lengthBytes)
                spec.lengthBytes = 0;
            EmitText(out, spec, take());
            break;
        case u'c':
        case u'C':
            EmitChar(out, spec, take());
            break;
        case u'p':
        {
            Spec pointer = spec;
            pointer.conversion = u'X';
            pointer.precision = sizeof(void*) * 2;
            pointer.lengthBytes = sizeof(void*);
            EmitInteger(out, pointer, take());
            break;
        }
        case u'n':
            take();
            break;
        case 0:
            // A lone "%" at the end is written as it stands.
            for (const char16_t* q = start; q < p; ++q)
                out.Put(*q);
            --p;
            break;
        default:
            // Unknown directive: written out unchanged.
            for (const char16_t* q = start; q <= p; ++q)
                out.Put(*q);
            break;
        }
    }
    return out.Finish();
}

char16_t* FormatBufferList(char16_t* buffer, std::size_t length, const char16_t* format,
                           const FormatArg* args, std::size_t count)
{
    if (!VEXEL_ASSERT_TEXT(buffer != nullptr && length != 0 && format != nullptr &&
                               (args != nullptr || count == 0),
                           u"buffer != _null && length != 0 && format != _null && arguments != _null"))
    {
        if (buffer && length)
            buffer[0] = 0;
        return buffer;
    }
    FormatArgs(buffer, length, format, args, count);
    return buffer;
}

char16_t* Detail::FormatBufferChecked(char16_t* buffer, std::size_t length, const char16_t* format,
                                      const FormatArg* args, std::size_t count)
{
    if (!VEXEL_ASSERT_TEXT(buffer != nullptr && length != 0 && format != nullptr,
                           u"buffer != _null && length != 0 && format != _null"))
    {
        if (buffer && length)
            buffer[0] = 0;
        return buffer;
    }
    FormatArgs(buffer, length, format, args, count);
    return buffer;
}

String FormatStringList(const char16_t* format, const FormatArg* args, std::size_t count)
{
    if (!VEXEL_ASSERT_TEXT(format != nullptr, u"format != _null"))
        return String();
    char16_t scratch[8192];
    std::size_t n = FormatArgs(scratch, 8192, format, args, count);
    return String(scratch, n);
}

} // namespace Vexel
