// How the C++ library ends a program where libstdc++ would throw: there are
// no exceptions to throw, so the program stops with the message an uncaught
// exception gives on Linux, on descriptor 2, and the abort status.
#pragma once

namespace kiv::cxx {

// Writes "terminate called after throwing an instance of 'KIND'" and
// "  what():  WHAT" on descriptor 2, then aborts.
[[noreturn]] void stop_throwing(const char *kind, const char *what);

// Writes LINE and a newline on descriptor 2, then aborts.
[[noreturn]] void stop_with(const char *line);

}  // namespace kiv::cxx
