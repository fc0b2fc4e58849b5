// Fault injection in strace's terms: chosen calls of chosen system calls
// are not performed and answer a given error or result, or are performed
// with a smaller count so that a read or write comes back short.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/syscalls.h"

namespace kiv {

struct Injection {
    enum class Kind { Error, Retval, Short };
    std::vector<uint32_t> calls;  // system-call numbers
    Kind kind = Kind::Error;
    int32_t value = 0;            // the errno, the result, or the most bytes moved
    uint32_t first = 1;           // the first call (counted from 1) it hits
    uint32_t step = 1;            // then every step-th after it; 0: only the first

    bool hits(uint32_t call_count) const;
};

// "CALL[,CALL...]:error=ENAME|retval=N|short=N[:when=N|N+|N+S]"; nullopt
// for anything else (an unknown call or error name, short= on a call that
// moves no bytes, a key twice).
std::optional<Injection> parse_injection(std::string_view text);

// "CALL[,CALL...]": the numbers, or nullopt when a name is unknown.
std::optional<std::vector<uint32_t>> parse_call_names(std::string_view text);

// Counts the calls of each number and says which ones an injection hits.
class Injector {
public:
    explicit Injector(std::vector<Injection> injections) : injections_(std::move(injections)) {}
    // The injection that hits this call of `number` (the first given wins),
    // or nullptr.
    const Injection *next(uint32_t number);
    // Runs the call as `injection` says.
    static SyscallResult perform(const Injection &injection, const SyscallEntry &entry, Process &process,
                                 const SyscallArgs &args);

private:
    std::vector<Injection> injections_;
    std::map<uint32_t, uint32_t> counts_;
};

}  // namespace kiv
