// The std::__throw_* family that libstdc++'s headers call where a standard
// function throws. The kit's C++ has no exceptions: each one stops the
// program with the message Linux prints for the uncaught exception (its kind
// and what() text) and the abort status.
#include <bits/functexcept.h>
#include <stdarg.h>

#include "stop.h"
#include "throw_format.h"

namespace {

// Long enough for every message the headers format (two numbers and a
// function name).
constexpr unsigned kMessageSize = 256;

}  // namespace

namespace std {

using kiv::cxx::stop_throwing;

void __throw_bad_exception() { stop_throwing("std::bad_exception", "std::bad_exception"); }
void __throw_bad_alloc() { stop_throwing("std::bad_alloc", "std::bad_alloc"); }
void __throw_bad_array_new_length() { stop_throwing("std::bad_array_new_length", "std::bad_array_new_length"); }
void __throw_bad_cast() { stop_throwing("std::bad_cast", "std::bad_cast"); }
void __throw_bad_typeid() { stop_throwing("std::bad_typeid", "std::bad_typeid"); }
void __throw_bad_function_call() { stop_throwing("std::bad_function_call", "bad_function_call"); }

void __throw_logic_error(const char *what) { stop_throwing("std::logic_error", what); }
void __throw_domain_error(const char *what) { stop_throwing("std::domain_error", what); }
void __throw_invalid_argument(const char *what) { stop_throwing("std::invalid_argument", what); }
void __throw_length_error(const char *what) { stop_throwing("std::length_error", what); }
void __throw_out_of_range(const char *what) { stop_throwing("std::out_of_range", what); }
void __throw_runtime_error(const char *what) { stop_throwing("std::runtime_error", what); }
void __throw_range_error(const char *what) { stop_throwing("std::range_error", what); }
void __throw_overflow_error(const char *what) { stop_throwing("std::overflow_error", what); }
void __throw_underflow_error(const char *what) { stop_throwing("std::underflow_error", what); }

void __throw_out_of_range_fmt(const char *format, ...) {
    char what[kMessageSize];
    va_list arguments;
    va_start(arguments, format);
    kiv::cxx::format_message(what, sizeof what, format, arguments);
    va_end(arguments);
    stop_throwing("std::out_of_range", what);
}

// Without streams and threads these come only from code that names them;
// what() says only the kind, since the kit has no table of error texts.
void __throw_ios_failure(const char *what) { stop_throwing("std::ios_base::failure", what); }
void __throw_ios_failure(const char *what, int) { stop_throwing("std::ios_base::failure", what); }
void __throw_system_error(int) { stop_throwing("std::system_error", "system error"); }
void __throw_future_error(int) { stop_throwing("std::future_error", "future error"); }

}  // namespace std
