// Included by exactly one source file of each test program that opens windows (tests/unit/<Layer>/
// WindowTestProgram.cpp).
//
// The program starts its private X server before the first test, so no test that touches the window
// system in passing (an image decoded, a screen size read) initialises it without a display and leaves
// the later window tests none; a server that cannot start is reported by each window test.
//
// Allocation stacks are unwound in full: the fast unwinder stops at the first GLib or GTK frame (built
// without frame pointers), and then only whole libraries could be named in tests/lsan.supp. With whole
// stacks the suppressions name the libraries' own functions, and a leak of our own objects made through
// GTK still shows our frames. The sanitizer does not follow the dynamic TLS blocks of libraries opened
// with dlopen (the web engine): this compiler's runtime misreads them and its leak check then dies at
// exit. ASAN_OPTIONS still overrides.
#pragma once

#include "PrivateDisplay.h"

#include <gtest/gtest.h>

extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0:intercept_tls_get_addr=0";
}

namespace
{

class PrivateDisplayEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { Vexel::Test::UsePrivateDisplay(); }
};

[[maybe_unused]] ::testing::Environment* const gPrivateDisplay =
    ::testing::AddGlobalTestEnvironment(new PrivateDisplayEnvironment);

} // namespace
