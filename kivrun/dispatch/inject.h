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
#include "support/result.h"

namespace kiv {

struct Injection {
    enum class Kind { Error, Retval, Short };
    std::vector<uint32_t> calls;  // system-call numbers
    Kind kind = Kind::Error;
    int32_t value = 0;   // the errno, the result, or the most bytes moved
    uint32_t first = 1;  // the first call (counted from 1) it hits
    uint32_t step = 1;   // then every step-th after it; 0: only the first

    bool hits(uint32_t call_count) const;
};

// What the user asked of injection, for every process of the run.
struct InjectionSettings {
    std::vector<Injection> injections;  // in the order given: the first that hits a call wins
};

// "CALLS:error=ENAME|retval=N|short=N[:when=N|N+|N+S]", CALLS as
// parse_call_selection reads them; anything else (an unknown call or
// error name, short= on a call that moves no bytes, a key twice) is refused
// naming the part that is wrong.
Result<Injection> parse_injection(std::string_view text);

// strace's call sets: "all", or items joined by ',', each a call's name or
// a class (%file, %process, %memory, %desc, %console, %nic), the whole perhaps
// negated by a leading '!'. The numbers, sorted, each once; or the refusal
// naming the unknown item (and listing the known ones).
Result<std::vector<uint32_t>> parse_call_selection(std::string_view text);

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
