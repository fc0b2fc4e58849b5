// The differential tester: random instruction sequences run natively and on
// kivrun's machine, compared state by state (see docs/kernel.md, "The
// machine against real hardware").
//   fidelity HARNESS [--seed N] [--from N] [--count N] [--show N] [--sequence HEX]
// Prints a table of differences by instruction class (with --sequence:
// what differs after those instructions alone); the status is 0 when
// every difference is a known one, 1 otherwise, 77 when this host cannot
// run the i386 harness (nothing compared), 2 on bad usage.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "compare.h"
#include "machine/cpu.h"
#include "machines.h"

namespace {

using namespace fidelity;

constexpr int kUsage = 2, kDiffers = 1, kSkipped = 77;
constexpr size_t kBatch = 25000;

struct Settings {
    std::string harness;
    uint64_t seed = 1;
    uint64_t from = 0;  // the first case's number
    uint64_t count = 100000;
    uint64_t show = 5;
    std::string sequence;  // run only this one (hex bytes)
};

struct ClassTally {
    uint64_t cases = 0, faults = 0, unexplained = 0;
    std::map<std::string, uint64_t> known;  // by name
};

bool parse(int argc, char **argv, Settings &settings) {
    if (argc < 2) return false;
    settings.harness = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--sequence") == 0) {
            settings.sequence = argv[i + 1];
            continue;
        }
        char *end = nullptr;
        uint64_t value = std::strtoull(argv[i + 1], &end, 0);
        if (end == argv[i + 1] || *end != 0) return false;
        if (std::strcmp(argv[i], "--seed") == 0) settings.seed = value;
        else if (std::strcmp(argv[i], "--count") == 0) settings.count = value;
        else if (std::strcmp(argv[i], "--from") == 0) settings.from = value;
        else if (std::strcmp(argv[i], "--show") == 0) settings.show = value;
        else return false;
    }
    return argc % 2 == 0;
}

void print_table(const ClassTally (&tallies)[kClasses], uint64_t seconds_ms) {
    uint64_t cases = 0, unexplained = 0;
    std::printf("%-20s %9s %8s %11s  %s\n", "class", "sequences", "faulted", "unexplained", "known differences");
    for (int kind = 0; kind < kClasses; kind++) {
        const ClassTally &tally = tallies[kind];
        std::string known;
        for (const auto &[name, count] : tally.known) known += name + " " + std::to_string(count) + "  ";
        std::printf("%-20s %9llu %8llu %11llu  %s\n", class_name(static_cast<InstructionClass>(kind)),
                    static_cast<unsigned long long>(tally.cases), static_cast<unsigned long long>(tally.faults),
                    static_cast<unsigned long long>(tally.unexplained), known.c_str());
        cases += tally.cases;
        unexplained += tally.unexplained;
    }
    // Naming the emulator also links the machine layer's leak suppressions
    // for the checked builds (Unicorn's own leak).
    std::printf("%llu sequences, %llu unexplained differences, %.0f sequences/s (kivrun on %s)\n",
                static_cast<unsigned long long>(cases), static_cast<unsigned long long>(unexplained),
                seconds_ms > 0 ? 1000.0 * static_cast<double>(cases) / static_cast<double>(seconds_ms) : 0.0,
                kiv::emulator_version().c_str());
}

}  // namespace

// One sequence from the command line, every difference shown.
int run_one(const Settings &settings, EmulatedMachine &machine) {
    auto test = case_of(settings.sequence);
    if (!test) {
        std::fprintf(stderr, "fidelity: --sequence wants hex bytes\n");
        return kUsage;
    }
    std::string why;
    auto native = run_natively(settings.harness, {*test}, why);
    if (!native) {
        std::printf("SKIPPED: %s\n", why.c_str());
        return kSkipped;
    }
    fid_result emulated = machine.run(*test);
    auto fields = differing_fields(*test, native->front(), emulated);
    const char *known = fields.empty() ? nullptr : known_difference(*test, native->front(), emulated, fields);
    std::string verdict = fields.empty() ? " no difference" : known != nullptr ? std::string(" (") + known + ")" : "";
    std::printf("%s:%s%s\n", hex_bytes(test->sequence).c_str(), field_values(fields, native->front(), emulated).c_str(),
                verdict.c_str());
    return fields.empty() || known != nullptr ? 0 : kDiffers;
}

int main(int argc, char **argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "usage: fidelity HARNESS [--seed N] [--from N] [--count N] [--show N] [--sequence HEX]\n");
        return kUsage;
    }
    EmulatedMachine machine;
    if (!machine.ready()) {
        std::fprintf(stderr, "fidelity: cannot set up the emulated machine\n");
        return kUsage;
    }
    if (!settings.sequence.empty()) return run_one(settings, machine);
    auto start = std::chrono::steady_clock::now();
    ClassTally tallies[kClasses];
    uint64_t shown = 0;
    uint64_t end = settings.from + settings.count;
    for (uint64_t first = settings.from; first < end; first += kBatch) {
        std::vector<Case> cases;
        for (uint64_t index = first; index < std::min(end, first + kBatch); index++)
            cases.push_back(generate_case(settings.seed, index));
        std::string why;
        auto native = run_natively(settings.harness, cases, why);
        if (!native) {
            std::printf("SKIPPED: %s\n", why.c_str());
            return kSkipped;
        }
        for (size_t i = 0; i < cases.size(); i++) {
            const Case &test = cases[i];
            fid_result emulated = machine.run(test);
            ClassTally &tally = tallies[static_cast<int>(test.kind)];
            tally.cases++;
            tally.faults += (*native)[i].output.signal != 0;
            auto fields = differing_fields(test, (*native)[i], emulated);
            if (fields.empty()) continue;
            if (const char *known = known_difference(test, (*native)[i], emulated, fields)) {
                tally.known[known]++;
                continue;
            }
            tally.unexplained++;
            if (shown++ < settings.show)
                std::printf("case %llu (%s): sequence %s:%s\n", static_cast<unsigned long long>(first + i),
                            class_name(test.kind), hex_bytes(test.sequence).c_str(),
                            field_values(fields, (*native)[i], emulated).c_str());
        }
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    uint64_t elapsed_ms = static_cast<uint64_t>(elapsed.count());
    print_table(tallies, elapsed_ms);
    uint64_t unexplained = 0;
    for (const ClassTally &tally : tallies) unexplained += tally.unexplained;
    return unexplained == 0 ? 0 : kDiffers;
}
