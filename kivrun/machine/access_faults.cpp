#include "machine/access_faults.h"

#include <algorithm>
#include <iterator>

#include "machine/guest_memory.h"

namespace kiv {

namespace {

constexpr AccessKind kAccessKinds[] = {
    {UC_MEM_READ, kAccessRead, UC_MEM_READ_UNMAPPED, UC_MEM_READ_PROT},
    {UC_MEM_WRITE, kAccessWrite, UC_MEM_WRITE_UNMAPPED, UC_MEM_WRITE_PROT},
    {UC_MEM_FETCH, kAccessExec, UC_MEM_FETCH_UNMAPPED, UC_MEM_FETCH_PROT},
};

}  // namespace

const char *memory_fault_what(uc_mem_type type) {
    switch (type) {
    case UC_MEM_READ_UNMAPPED: return "page fault (read from unmapped memory)";
    case UC_MEM_WRITE_UNMAPPED: return "page fault (write to unmapped memory)";
    case UC_MEM_FETCH_UNMAPPED: return "page fault (execution of unmapped memory)";
    case UC_MEM_WRITE_PROT: return "page fault (write to read-only memory)";
    case UC_MEM_READ_PROT: return "page fault (read from unreadable memory)";
    case UC_MEM_FETCH_PROT: return "page fault (execution of non-executable memory)";
    default: return "page fault";
    }
}

const AccessKind *access_kind(uc_mem_type type) {
    auto kind = std::find_if(std::begin(kAccessKinds), std::end(kAccessKinds),
                             [type](const AccessKind &k) { return k.type == type; });
    return kind != std::end(kAccessKinds) ? kind : nullptr;
}

}  // namespace kiv
