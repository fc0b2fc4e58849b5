// kivrun: runs a kivos i386 executable on an emulated CPU and serves its
// system calls with the host's facilities.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "run.h"

namespace {

constexpr const char *kUsage = R"(Usage: kivrun [OPTION]... PROGRAM [ARG]...
Run a kivos i386 executable on an emulated CPU, serving its system calls
with the host's facilities. PROGRAM gets ARG... as its arguments, with
PROGRAM as given as argv[0].

Options:
  -r, --root DIR          the guest's file system root; no guest path can
                          leave it (default: the current directory)
  -t, --trace[=FILE]      log every system call to FILE (default: standard
                          error), one line per call
  -T, --timeout SECONDS   stop the program after this much wall-clock time
      --max-blocks N      stop the program after N executed basic blocks
  -g, --gdb PORT          before the program's first instruction, wait for
                          one gdb connection on 127.0.0.1:PORT (0: any free
                          port; the port is shown on standard error) and let
                          gdb drive the run ('target remote 127.0.0.1:PORT');
                          ending the connection ends the run (status 125)
      --no-sleep          make usleep and sleep return at once
      --tsc START[:STEP]  the time-stamp counter reads START first, then
                          STEP more at every read (default STEP 1); each a
                          decimal or 0x-hex 64-bit number
      --nic SOURCE        what the NIC query reports: sim (a simulated e1000,
                          the default), host (the host's first e1000
                          controller, read from sysfs at each query: PCI
                          address, BAR0 as MMIO base, MAC and carrier of its
                          network interface; the query fails when there is
                          none or its BAR0 lies above 4 GiB) or absent (the
                          query fails)
      --sysfs-root DIR    where --nic host reads sysfs (default /sys)
      --nic-pci BB:DD.F   simulated PCI address, hex bus and device
                          (default 00:03.0)
      --nic-mmio ADDRESS  simulated MMIO base (default 0xfebc0000)
      --nic-mac MAC       simulated MAC address (default 52:54:00:12:34:56)
      --nic-link N        simulated link word, 0 = down (default 1)
  -h, --help              show this help and exit
      --version           show the version and exit

Exit status: the program's own status (0-255), or
  124  stopped by --timeout or --max-blocks
  125  bad usage, unusable root, or a failure of the emulator itself
  126  PROGRAM is not an executable this kernel runs
  127  PROGRAM cannot be opened
  128+N  the program faulted; N is the signal a Linux process would get:
       132 invalid instruction, 133 breakpoint, 135 bus error,
       136 divide error, 139 memory or protection fault
)";

constexpr const char *kVersion = "kivrun 1.0\n";

enum LongOnly {
    kMaxBlocks = 256,
    kNoSleep,
    kTsc,
    kNic,
    kSysfsRoot,
    kNicPci,
    kNicMmio,
    kNicMac,
    kNicLink,
    kVersionOption,
};

constexpr option kOptions[] = {
    {"root", required_argument, nullptr, 'r'},
    {"trace", optional_argument, nullptr, 't'},
    {"timeout", required_argument, nullptr, 'T'},
    {"max-blocks", required_argument, nullptr, kMaxBlocks},
    {"gdb", required_argument, nullptr, 'g'},
    {"no-sleep", no_argument, nullptr, kNoSleep},
    {"tsc", required_argument, nullptr, kTsc},
    {"nic", required_argument, nullptr, kNic},
    {"sysfs-root", required_argument, nullptr, kSysfsRoot},
    {"nic-pci", required_argument, nullptr, kNicPci},
    {"nic-mmio", required_argument, nullptr, kNicMmio},
    {"nic-mac", required_argument, nullptr, kNicMac},
    {"nic-link", required_argument, nullptr, kNicLink},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersionOption},
    {nullptr, 0, nullptr, 0},
};

[[noreturn]] void usage_error(const std::string &message) {
    fprintf(stderr, "kivrun: %s\nTry 'kivrun --help' for more information.\n", message.c_str());
    exit(kiv::kExitHostError);
}

struct Settings {
    kiv::RunOptions run;
    std::optional<std::string> trace_path;
    bool trace = false;
};

void apply_option(int option, const char *value, Settings &settings) {
    std::string text = value != nullptr ? value : "";
    auto &nic = settings.run.nic;
    uint32_t number = 0;
    switch (option) {
    case 'r': settings.run.root = text; break;
    case 't':
        settings.trace = true;
        if (value != nullptr) settings.trace_path = text;
        break;
    case 'T': {
        char *end = nullptr;
        errno = 0;
        double seconds = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || errno != 0 || !(seconds > 0) || seconds > 1e9)
            usage_error("invalid time limit '" + text + "' (a positive number of seconds)");
        settings.run.timeout_seconds = seconds;
        break;
    }
    case kMaxBlocks: {
        char *end = nullptr;
        errno = 0;
        unsigned long long blocks = std::strtoull(text.c_str(), &end, 10);
        if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || blocks == 0)
            usage_error("invalid block limit '" + text + "' (a positive whole number)");
        settings.run.block_limit = blocks;
        break;
    }
    case 'g': {
        char *end = nullptr;
        errno = 0;
        unsigned long port = std::strtoul(text.c_str(), &end, 10);
        if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || port > UINT16_MAX)
            usage_error("invalid gdb port '" + text + "' (0 to 65535)");
        settings.run.gdb_port = static_cast<uint16_t>(port);
        break;
    }
    case kNoSleep: settings.run.skip_sleeps = true; break;
    case kTsc: {
        kiv::TscSequence tsc;
        if (!kiv::parse_tsc_sequence(text, tsc))
            usage_error("invalid time-stamp sequence '" + text + "' (START or START:STEP, 64-bit numbers)");
        settings.run.tsc = tsc;
        break;
    }
    case kNic:
        if (!kiv::parse_nic_source(text, nic.source))
            usage_error("invalid NIC source '" + text + "' (sim, host or absent)");
        break;
    case kSysfsRoot: nic.sysfs_root = text; break;
    case kNicPci:
        if (!kiv::parse_pci_address(text, nic.simulated))
            usage_error("invalid PCI address '" + text + "' (BB:DD.F, device up to 1f, function up to 7)");
        break;
    case kNicMmio:
        if (!kiv::parse_u32(text, number)) usage_error("invalid MMIO base '" + text + "' (a 32-bit number)");
        nic.simulated.mmio_base = number;
        break;
    case kNicMac:
        if (!kiv::parse_mac_address(text, nic.simulated))
            usage_error("invalid MAC address '" + text + "' (six hex octets joined by ':')");
        break;
    case kNicLink:
        if (!kiv::parse_u32(text, number)) usage_error("invalid link word '" + text + "' (a 32-bit number)");
        nic.simulated.link = number;
        break;
    case 'h':
        fputs(kUsage, stdout);
        exit(0);
    case kVersionOption:
        fputs(kVersion, stdout);
        exit(0);
    default: usage_error("unknown option");
    }
}

}  // namespace

int main(int argc, char **argv) {
    Settings settings;
    opterr = 0;
    int option;
    // '+': options end at PROGRAM; everything after it belongs to the guest.
    while ((option = getopt_long(argc, argv, "+r:t::T:g:h", kOptions, nullptr)) != -1) {
        if (option == '?') {
            std::string name = optopt != 0 ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
            usage_error("unknown option or missing value: " + name);
        }
        apply_option(option, optarg, settings);
    }
    if (optind >= argc) usage_error("no program given");

    FILE *trace = nullptr;
    if (settings.trace) {
        trace = settings.trace_path ? fopen(settings.trace_path->c_str(), "w") : stderr;
        if (trace == nullptr)
            usage_error("cannot write the trace to '" + *settings.trace_path + "': " + std::strerror(errno));
    }
    settings.run.trace = trace;

    std::vector<std::string> guest_argv(argv + optind, argv + argc);
    kiv::RunResult result = kiv::run_program(argv[optind], guest_argv, settings.run);
    if (trace != nullptr && trace != stderr) fclose(trace);
    if (!result.message.empty()) fprintf(stderr, "%s\n", result.message.c_str());
    return result.exit_code;
}
