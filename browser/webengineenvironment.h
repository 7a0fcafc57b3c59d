#pragma once

namespace qh::browser {

// What the web engine needs before the application object exists: GL contexts shared with the rest of the
// program, and, when the program runs as root, Chromium's sandbox off (it refuses to start as root, and then no
// page would load at all). Without a display (a command line run, a test) it runs offscreen and without a GPU.
void prepareWebEngineEnvironment(bool headless);

} // namespace qh::browser
