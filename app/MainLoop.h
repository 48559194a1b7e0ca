// The main loop of a program without a window system: the main thread waits
// here until something (the terminal menu, a termination signal, a restart
// after an update) asks the program to end, and with which exit code.
#pragma once

namespace app {

// Asks the main loop to end with the exit code. The first request wins;
// later ones are ignored. Safe from any thread.
void requestMainLoopEnd(int exitCode);

// True once an end was requested.
bool isMainLoopEnding();

// Blocks until an end is requested (returns at once if it already was) and
// returns the requested exit code.
int runMainLoop();

}  // namespace app
