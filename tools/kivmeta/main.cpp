// kivmeta: prints the command and package metadata records of a kivos
// executable, read from the file without running it.

#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "kivmeta/metadata.h"
#include "support/file.h"

namespace {

constexpr const char *kDescription = R"(Print the command and package metadata records of the kivos executable
FILE (sections .kivos.cmdmeta and .kivos.pkgmeta), read through the ELF
section headers without running it.

Plain output has one line per record string, in record order, each led by
the record's name:
  command: Probe Intel e1000 NIC.
  command: nicsounder
  package: nicsounder
  package: 3
With --json, one JSON object holds each record's strings as an array:
  {"command": ["Probe Intel e1000 NIC.", "nicsounder"], "package": ["nicsounder", "3"]}
)";

constexpr const char *kExitStatuses = R"(Exit status:
  0  both records read and printed
  1  bad usage
  2  FILE cannot be read
  3  FILE is not a little-endian ELF32 file with usable section headers
  4  a metadata section is missing, runs past the end of the file, or
     holds a malformed record (wrong magic or version, a string list
     without its closing empty string, a string that is not printable ASCII)
Errors are one line on standard error; nothing is printed on standard
output unless both records are sound.
)";

enum ExitStatus : int { kOk = 0, kBadUsage = 1, kUnreadable = 2, kNotElf32 = 3, kBadMetadata = 4 };

[[noreturn]] void fail(int status, const std::string &message) {
    fprintf(stderr, "kivmeta: %s\n", message.c_str());
    exit(status);
}

void print_plain(const kiv::meta::Metadata &metadata) {
    for (const auto &record : metadata)
        for (const auto &text : record.strings) printf("%s: %s\n", record.label.c_str(), text.c_str());
}

// Record strings are printable ASCII: only quote and backslash need escaping.
std::string json_string(const std::string &text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

void print_json(const kiv::meta::Metadata &metadata) {
    std::string out = "{";
    for (size_t r = 0; r < metadata.size(); r++) {
        out += (r > 0 ? ", " : "") + json_string(metadata[r].label) + ": [";
        for (size_t s = 0; s < metadata[r].strings.size(); s++)
            out += (s > 0 ? ", " : "") + json_string(metadata[r].strings[s]);
        out += "]";
    }
    puts((out + "}").c_str());
}

int exit_status(kiv::meta::Problem problem) {
    switch (problem) {
    case kiv::meta::Problem::NotElf32:
    case kiv::meta::Problem::BadSectionTable: return kNotElf32;
    case kiv::meta::Problem::BadRecord: return kBadMetadata;
    }
    return kBadMetadata;
}

}  // namespace

int main(int argc, char **argv) {
    bool json = false;
    const kiv::cli::Command command{"kivmeta",
                                    "[--json] FILE",
                                    kDescription,
                                    kExitStatuses,
                                    "kivmeta 1.0",
                                    kBadUsage,
                                    kiv::cli::Operands::Anywhere,
                                    {{'j', "json", kiv::cli::Takes::Nothing, "", "print JSON instead of plain text", "",
                                      kiv::cli::set_flag(json)}}};
    std::vector<std::string> files = kiv::cli::parse(command, argc, argv);
    if (files.size() != 1) kiv::cli::usage_error(command, "expected exactly one FILE");

    const std::string &path = files[0];
    auto file = kiv::read_file(path, kiv::kMaxExecutableSize);
    if (!file) fail(kUnreadable, kiv::cli::shown(path) + ": " + file.error());
    auto metadata = kiv::meta::read_metadata(*file);
    if (!metadata) fail(exit_status(metadata.error().problem), kiv::cli::shown(path) + ": " + metadata.error().message);
    json ? print_json(*metadata) : print_plain(*metadata);
    return kOk;
}
