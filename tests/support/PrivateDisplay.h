// Window tests move the pointer with synthesised input and grab keys, so each test process that opens
// windows gets an X server of its own: tests run side by side cannot move each other's pointer or steal
// each other's focus. Call it before the first window, and only in processes that will open one. The
// server ends when its last client leaves (-terminate) and, in any case, with the test program, however
// that ends (the server gets SIGTERM when its parent dies). Its output goes to a file, never to the test's
// own pipes, which the test runner waits on; it is read back when the server fails.
// VEXEL_TEST_SHARED_DISPLAY=1 uses the display the tests were started on instead (to watch them).
#pragma once

#include <string>

namespace Vexel::Test
{

// Starts the server once per process and points DISPLAY at it. False when it could not be started
// (PrivateDisplayError says why); DISPLAY is then left unset, so no test runs on a display it does not own.
bool UsePrivateDisplay();
const std::string& PrivateDisplayError();

} // namespace Vexel::Test
