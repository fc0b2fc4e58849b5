// The message of std::__throw_out_of_range_fmt: the headers format it with
// "%s", "%zu" and "%%" only.
#pragma once

#include <stdarg.h>
#include <stddef.h>

namespace kiv::cxx {

// Formats FORMAT into BUFFER (SIZE bytes, always terminated, cut short if
// needed); any other directive is copied as it stands.
void format_message(char *buffer, size_t size, const char *format, va_list arguments);

}  // namespace kiv::cxx
