// Internals shared by the stream layer's files.
#pragma once

#include <stdint.h>

#include "stdio.h"

static_assert(sizeof(FILE) == 44, "FILE is eleven 32-bit fields");
static_assert(__builtin_offsetof(FILE, kind) == 0);
static_assert(__builtin_offsetof(FILE, fd) == 4);
static_assert(__builtin_offsetof(FILE, path) == 8);
static_assert(__builtin_offsetof(FILE, buf) == 12);
static_assert(__builtin_offsetof(FILE, len) == 16);
static_assert(__builtin_offsetof(FILE, cap) == 20);
static_assert(__builtin_offsetof(FILE, user_buf) == 24);
static_assert(__builtin_offsetof(FILE, user_size) == 28);
static_assert(__builtin_offsetof(FILE, error) == 32);
static_assert(__builtin_offsetof(FILE, pos) == 36);
static_assert(__builtin_offsetof(FILE, eof) == 40);

namespace kiv::stdio {

// The one routine that appends to a stream: 0 when every byte was taken,
// -1 otherwise.
int file_write_bytes(FILE *stream, const void *bytes, uint32_t length);

inline bool is_standard(const FILE *stream) { return stream == stdin || stream == stdout || stream == stderr; }

}  // namespace kiv::stdio
