// Reading the command and package metadata records from a kivos executable
// the way the host system's tools do: without running it, through the ELF
// section headers. Parsing works on the file's bytes only, so hostile files
// can be checked without touching the disk.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.h"

namespace kiv::meta {

// One record: which section it came from, its raw bytes (a view into the
// file) and its strings in order, the closing empty string left out.
struct Record {
    std::string label;    // "command" or "package"
    std::string section;  // ".kivos.cmdmeta" or ".kivos.pkgmeta"
    std::span<const uint8_t> bytes;
    std::vector<std::string> strings;
};

// Both records, command first.
using Metadata = std::vector<Record>;

// What kind of fault stopped the reading; the command maps each to its own
// exit status.
enum class Problem {
    NotElf32,         // not a little-endian ELF32 file
    BadSectionTable,  // section headers or their name table unusable
    BadRecord,        // a metadata section missing, out of the file, or malformed
};

struct ReadError {
    Problem problem;
    std::string message;  // one line, naming the section where there is one
};

// Locates the section called `name`; refused when the file is not an ELF32
// file with a usable section table or has no such section.
Result<std::span<const uint8_t>, ReadError> find_section(std::span<const uint8_t> file, const std::string &name);

// Checks a record's magic and version and reads its strings up to the empty
// one. Bytes after the empty string are not looked at.
Result<std::vector<std::string>> parse_record(std::span<const uint8_t> bytes, std::string_view magic);

// Both records of an executable, or the first fault.
Result<Metadata, ReadError> read_metadata(std::span<const uint8_t> file);

}  // namespace kiv::meta
