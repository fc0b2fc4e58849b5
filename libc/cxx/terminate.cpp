// std::terminate and the guards of function-local statics, which the
// compiler calls when a program is built with -fthreadsafe-statics (the
// kit's default is -fno-threadsafe-statics). One thread: a guard is just a
// flag in its first byte, as the Itanium C++ ABI lays it out.
#include <stdint.h>

#include <exception>

#include "stop.h"

namespace std {

void terminate() noexcept { kiv::cxx::stop_with("terminate called without an active exception"); }

}  // namespace std

namespace {

using Guard = uint64_t;

unsigned char &done_flag(Guard *guard) { return *reinterpret_cast<unsigned char *>(guard); }

}  // namespace

extern "C" {

// 1: the static must be initialised now.
int __cxa_guard_acquire(Guard *guard) { return done_flag(guard) == 0 ? 1 : 0; }
void __cxa_guard_release(Guard *guard) { done_flag(guard) = 1; }
void __cxa_guard_abort(Guard *) {}

// A call of a deleted virtual function.
void __cxa_deleted_virtual() { kiv::cxx::stop_with("deleted virtual method called"); }

}  // extern "C"
