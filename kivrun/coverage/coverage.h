// Coverage of a guest program: while it runs, the CPU counts the blocks it
// enters; at the end the counts become an lcov tracefile (lines and
// functions from the program's debug information) or a drcov log (blocks),
// summed into the record the file already holds. Every process of a run,
// and every later run, adds to the same file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "machine/block_counts.h"
#include "machine/loader.h"
#include "support/result.h"

namespace kiv {

enum class CoverageFormat : uint8_t { Lcov, Drcov };

struct CoverageSettings {
    std::string path;  // absolute; empty: no coverage
    CoverageFormat format = CoverageFormat::Lcov;
    bool enabled() const { return !path.empty(); }
};

// "lcov" or "drcov".
Result<CoverageFormat> parse_coverage_format(std::string_view text);
// The host memory counting `image`'s blocks takes at most.
uint64_t coverage_memory(const ExecutableImage &image);
// Creates the file unless it exists; the file's own path (a link resolved),
// or why not (errno's text, or "not a regular file").
Result<std::string> prepare_coverage_file(const std::string &path);
class CoverageRecorder {
public:
    CoverageRecorder(const CoverageSettings &settings, const ExecutableImage &image, std::span<const uint8_t> file,
                     std::string program);

    // What the CPU's block hook counts into.
    BlockCounts &counts() { return counts_; }

    struct Saved {
        std::string error;  // why nothing was recorded; empty on success
        std::string note;   // a remark for the user, when there is one
    };
    // Adds this run's counts to the file, under a lock shared by every
    // process that records into it.
    Saved save() const;

private:
    CoverageSettings settings_;
    const ExecutableImage &image_;
    std::span<const uint8_t> file_;
    std::string program_;
    BlockCounts counts_;
};

}  // namespace kiv
