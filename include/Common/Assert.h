// Assertions that report and let the caller go on. A failed check writes one error report through
// AssertFailed (Common/Log) naming the condition, the source file and the line; there is no break and
// no termination. They are compiled in every build.
#pragma once

namespace Vexel
{
void AssertFailed(const char16_t* expression, const char16_t* file, int line);
}

#define VEXEL_WIDEN_(x) u##x
#define VEXEL_WIDEN(x) VEXEL_WIDEN_(x)

// Evaluates to the condition's truth, so callers can stop the operation: if (!VEXEL_ASSERT(p)) return;
#define VEXEL_ASSERT(condition)                                                                              \
    ((condition) ? true : (::Vexel::AssertFailed(u"" #condition, VEXEL_WIDEN(__FILE__), __LINE__), false))

// Same, with the report text given explicitly (for conditions whose text the program spells its own way).
#define VEXEL_ASSERT_TEXT(condition, text)                                                                   \
    ((condition) ? true : (::Vexel::AssertFailed(text, VEXEL_WIDEN(__FILE__), __LINE__), false))
