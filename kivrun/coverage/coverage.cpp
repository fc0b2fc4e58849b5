#include "coverage/coverage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#include "coverage/debug_lines.h"
#include "coverage/drcov.h"
#include "coverage/lcov.h"
#include "coverage/locked_file.h"
#include "coverage/source_paths.h"
#include "machine/memory_map.h"
#include "support/unique_fd.h"

namespace kiv {

namespace {

constexpr std::pair<std::string_view, CoverageFormat> kFormats[] = {
    {"lcov", CoverageFormat::Lcov},
    {"drcov", CoverageFormat::Drcov},
};

// The code the file holds: an executable segment's zero-filled tail (a bss
// the program may write code into) has no lines, and counting it would
// take the table's 16 bytes for each of its bytes.
std::vector<CodeRange> executable_ranges(const ExecutableImage &image) {
    std::vector<CodeRange> ranges;
    for (const LoadSegment &segment : image.segments)
        if ((segment.protection & kAccessExec) != 0 && segment.file_size != 0)
            ranges.push_back({segment.address, segment.address + segment.file_size});
    return ranges;
}

// The program as one module from its first page to its last segment's end;
// a line break in its name would end the module's line early.
DrcovModule program_module(const ExecutableImage &image, const std::string &program) {
    DrcovModule module{program, UINT32_MAX, 0, image.entry};
    for (const LoadSegment &segment : image.segments) {
        module.base = std::min(module.base, page_floor(segment.address));
        module.end = std::max(module.end, segment.address + segment.memory_size);
    }
    std::replace_if(
        module.path.begin(), module.path.end(), [](char c) { return c == '\n' || c == '\r'; }, '?');
    return module;
}

// This kivrun's kit, found from where it runs.
const std::string &kit_sources() {
    static const std::string directory = [] {
        std::error_code error;
        return kit_sources_directory(std::filesystem::read_symlink("/proc/self/exe", error), KIV_KIT_SOURCE_TREE);
    }();
    return directory;
}

// The change that adds `mine` to a file holding a record of the same form
// (or nothing yet).
template <class Record, class Parse, class Format> FileChange adding(Record mine, Parse parse, Format format) {
    return [mine = std::move(mine), parse, format](std::string_view current,
                                                   std::string &error) -> std::optional<std::string> {
        Record all;
        if (!current.empty()) {
            auto previous = parse(current, error);
            if (!previous) return std::nullopt;
            all = std::move(*previous);
        }
        merge(all, mine);
        return format(all);
    };
}

}  // namespace

Result<CoverageFormat> parse_coverage_format(std::string_view text) {
    for (const auto &[name, value] : kFormats)
        if (name == text) return value;
    return Failure{"lcov or drcov"};
}

uint64_t coverage_memory(const ExecutableImage &image) { return BlockCounts::table_bytes(executable_ranges(image)); }

// The record is replaced whole by a rename, which would replace a link
// rather than the file it names: the path becomes the file's own, as the
// host resolved it on opening. Opening does not block, so a fifo is
// refused at once rather than waited on.
Result<std::string> prepare_coverage_file(const std::string &path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
    struct stat info;
    if (!fd.valid() || fstat(fd.get(), &info) != 0) return Failure{std::strerror(errno)};
    if (!S_ISREG(info.st_mode)) return Failure{"not a regular file"};
    std::error_code failure;
    std::filesystem::path resolved = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd.get()),
                                                                   failure);
    if (failure) return Failure{failure.message()};
    return resolved.string();
}

CoverageRecorder::CoverageRecorder(const CoverageSettings &settings, const ExecutableImage &image,
                                   std::span<const uint8_t> file, std::string program)
    : settings_(settings),
      image_(image),
      file_(file),
      program_(std::move(program)),
      counts_(executable_ranges(image)) {}

CoverageRecorder::Saved CoverageRecorder::save() const {
    Saved saved;
    std::vector<BlockRun> runs = counts_.runs();
    FileChange change;
    if (settings_.format == CoverageFormat::Drcov) {
        change = adding(drcov_from_runs(program_module(image_, program_), runs), parse_drcov, format_drcov);
    } else {
        InstructionCounts counts(counts_.ranges(), runs);
        std::string refusal;
        auto debug = read_debug_lines(file_, refusal);
        if (debug) locate_sources(*debug, kit_sources());
        // A refused debug information counts as none, with its reason told.
        std::string lacking = refusal.empty() ? " has no debug information" : "'s debug information " + refusal;
        if (!debug && image_.symbols.functions().empty()) {
            saved.note = program_ +
                         (refusal.empty() ? " has neither debug information nor a symbol table"
                                          : lacking + " and it has no symbol table") +
                         ": no coverage recorded";
            return saved;
        }
        if (!debug) saved.note = program_ + lacking + ": its functions are recorded, not its lines";
        change = adding(
            debug ? tracefile_from_lines(*debug, counts) : tracefile_from_symbols(program_, image_.symbols, counts),
            parse_lcov, format_lcov);
    }
    std::string error;
    if (!update_locked_file(settings_.path, change, error))
        saved.error = "cannot record coverage in '" + settings_.path + "': " + error;
    return saved;
}

}  // namespace kiv
