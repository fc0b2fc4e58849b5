// Compiled, never run: each MISUSE reads an argument as a kind its call's
// row does not give it, which must not compile; with none, the same reads
// done as the rows say must compile.
#include "kiv_spawn.h"
#include "os/call_args.h"

namespace kiv {

int32_t reads(const CallArgs<KIV_SYS_open> &open, const CallArgs<KIV_SYS_getcwd> &getcwd,
              const CallArgs<KIV_SYS_write> &write, const CallArgs<KIV_SYS_read> &read,
              const CallArgs<KIV_SYS_spawn_ex> &spawn_ex) {
#if MISUSE == 1
    return open.descriptor<0>();  // a path
#elif MISUSE == 2
    return getcwd.bytes<0>() ? 0 : 1;  // filled as text, with no count after it
#elif MISUSE == 3
    return write.fill<1>("", 1);  // bytes the kernel only reads
#elif MISUSE == 4
    return open.flags<3>();  // past the row's arguments
#elif MISUSE == 5
    return write.as<KIV_SYS_read>().descriptor<0>();  // another row of kinds
#elif MISUSE == 6
    return read.fill<1>("", 1);  // bytes stored as many as the count allows, through bytes()
#else
    return (open.path<0>() ? 1 : 0) + static_cast<int32_t>(open.flags<1>()) + (getcwd.fillable<0>(1) ? 1 : 0) +
           (write.bytes<1>() ? 1 : 0) + (read.bytes<1>() ? 1 : 0) + write.descriptor<0>() +
           (spawn_ex.record<0, KivSpawnBlock>() ? 1 : 0);
#endif
}

}  // namespace kiv
