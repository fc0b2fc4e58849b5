// nicsounder: asks the kernel's e1000 driver what it knows about the
// controller and prints a five-line report on standard output; with "-h",
// a usage line instead. Exit status 0, or 1 when the kernel refuses.
#include <kivos/meta.h>
#include <stdint.h>

#include "internal/syscall.h"
#include "kiv_nic.h"
#include "stdio.h"
#include "string.h"

namespace {

bool asks_for_usage(int argc, char **argv) { return argc > 1 && argv[1] != nullptr && strcmp(argv[1], "-h") == 0; }

// 0 when the kernel filled the record.
int32_t query_nic(NicInfo &info) { return kiv::sys::call3(KIV_SYS_nic_query, 0, 0, kiv::sys::word(&info)); }

void print_report(const NicInfo &info) {
    puts("E1000 Probe Results:");
    printf("  PCI: %02x:%02x.%d\n", unsigned{info.bus}, unsigned{info.device}, unsigned{info.function});
    printf("  MMIO Base: 0x%08x\n", info.mmio_base);
    printf("  MAC: %02x:%02x:%02x:%02x:%02x:%02x\n", unsigned{info.mac[0]}, unsigned{info.mac[1]},
           unsigned{info.mac[2]}, unsigned{info.mac[3]}, unsigned{info.mac[4]}, unsigned{info.mac[5]});
    printf("  Link: %s\n", info.link != 0 ? "UP" : "DOWN");
}

}  // namespace

KIVOS_COMMAND("Probe Intel e1000 NIC.", "nicsounder");
static_assert(sizeof(g_cmdmeta_0) == 43);

extern "C" int main(int argc, char **argv) {
    if (asks_for_usage(argc, argv)) {
        puts("Usage: nicsounder");
        return 0;
    }
    NicInfo info;
    if (query_nic(info) != 0) {
        puts("nicsounder: probe failed");
        return 1;
    }
    print_report(info);
    return 0;
}
