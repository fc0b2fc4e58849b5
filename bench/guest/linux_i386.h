// Output for the benchmarks' Linux i386 programs, through the Linux kernel's
// own call numbers.
#pragma once

#include <stdint.h>

extern "C" int32_t linux_write(int fd, const void *bytes, uint32_t length);
