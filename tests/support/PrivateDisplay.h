// Window tests move the pointer with synthesised input and grab keys, so each test process that opens
// windows gets an X server of its own: tests run side by side cannot move each other's pointer or steal
// each other's focus. Call it before the first window; the server ends by itself when its last client
// leaves (-terminate), so call it only in processes that will open a window. Its output goes to
// /dev/null, never to the test's own pipes, which the test runner waits on.
// VEXEL_TEST_SHARED_DISPLAY=1 uses the display the tests were started on instead (to watch them).
#pragma once

namespace Vexel::Test
{

// Starts the server once per process and points DISPLAY at it; without Xvfb it keeps the display it has.
void UsePrivateDisplay();

} // namespace Vexel::Test
