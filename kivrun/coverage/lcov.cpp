#include "coverage/lcov.h"

#include <algorithm>
#include <vector>

#include "support/hex.h"
#include "support/number.h"
#include "support/text.h"

namespace kiv {

namespace {

// A tracefile is lines: a control character in a name (a #line file name,
// a function's) would end its record or start another, so each is written
// as \xNN.
std::string recorded_name(std::string_view name) {
    std::string recorded;
    for (char c : name) {
        auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 || byte == 0x7f) recorded.append("\\x").append(hex_byte(byte));
        else recorded += c;
    }
    return recorded;
}

FileCoverage &file_record(Tracefile &tracefile, std::string_view path) { return tracefile.files[recorded_name(path)]; }

// Counts from files stop at the largest count rather than wrap to a small one.
void add_count(uint64_t &into, uint64_t more) { into = more > UINT64_MAX - into ? UINT64_MAX : into + more; }

// A line that starts in several places (a loop's condition, code the
// compiler spread out) counts as often as its most-run start.
void note_line(FileCoverage &file, uint32_t line, uint64_t count) {
    uint64_t &known = file.lines[line];
    known = std::max(known, count);
}

// Copies of one function (a static one from a header, in two units) add up.
void note_function(FileCoverage &file, std::string_view name, uint32_t line, uint64_t count) {
    FunctionCoverage &known = file.functions[recorded_name(name)];
    if (known.line == 0) known.line = line;
    add_count(known.count, count);
}

// "NUMBER,TEXT" as FN, FNDA and DA spell their values.
template <class Number> bool split_pair(std::string_view value, Number &number, std::string_view &rest) {
    auto parts = split_once(value, ',');
    if (!parts) return false;
    rest = parts->second;
    auto parsed = decimal_number<Number>(parts->first);
    if (parsed) number = *parsed;
    return parsed.has_value();
}

// One line of a tracefile, inside the file record `file` (null outside
// one); false when it does not read.
using LineReader = bool (*)(std::string_view value, Tracefile &, FileCoverage *&file);

// Records are ended before the next begins.
bool read_source(std::string_view value, Tracefile &tracefile, FileCoverage *&file) {
    if (value.empty() || file != nullptr) return false;
    file = &file_record(tracefile, value);
    return true;
}

bool read_function(std::string_view value, Tracefile &, FileCoverage *&file) {
    uint32_t line = 0;
    std::string_view name;
    if (file == nullptr || !split_pair(value, line, name) || name.empty()) return false;
    note_function(*file, name, line, 0);
    return true;
}

bool read_function_count(std::string_view value, Tracefile &, FileCoverage *&file) {
    uint64_t count = 0;
    std::string_view name;
    if (file == nullptr || !split_pair(value, count, name) || name.empty()) return false;
    note_function(*file, name, 0, count);
    return true;
}

// DA may carry a checksum after the count: DA:line,count[,checksum].
bool read_line(std::string_view value, Tracefile &, FileCoverage *&file) {
    uint32_t line = 0;
    std::string_view rest;
    if (file == nullptr || !split_pair(value, line, rest)) return false;
    auto count = decimal_number<uint64_t>(rest.substr(0, rest.find(',')));
    if (!count) return false;
    add_count(file->lines[line], *count);
    return true;
}

bool read_end(std::string_view, Tracefile &, FileCoverage *&file) {
    bool inside = file != nullptr;
    file = nullptr;
    return inside;
}

bool skip(std::string_view, Tracefile &, FileCoverage *&) { return true; }

// Totals are recomputed on writing.
const std::map<std::string_view, LineReader> kLineReaders = {
    {"TN", skip},          {"SF", read_source},
    {"FN", read_function}, {"FNDA", read_function_count},
    {"FNF", skip},         {"FNH", skip},
    {"DA", read_line},     {"LF", skip},
    {"LH", skip},          {"BRDA", skip},
    {"BRF", skip},         {"BRH", skip},
    {"VER", skip},         {"end_of_record", read_end},
};

}  // namespace

// Code the linker left out (unused functions of a library) keeps its rows
// at an address outside the program: it is recorded as never run, so that
// a suite's record shows what no program of it reached.
Tracefile tracefile_from_lines(const DebugLines &debug, const InstructionCounts &counts) {
    Tracefile tracefile;
    std::vector<FileCoverage *> files;
    for (const std::string &file : debug.files) files.push_back(&file_record(tracefile, file));
    for (const LineStart &line : debug.lines)
        note_line(*files[line.file], line.line, counts.at(line.address).value_or(0));
    for (const FunctionStart &function : debug.functions)
        note_function(*files[function.file], function.name, function.line, counts.at(function.address).value_or(0));
    return tracefile;
}

Tracefile tracefile_from_symbols(const std::string &program, const SymbolTable &symbols,
                                 const InstructionCounts &counts) {
    Tracefile tracefile;
    for (const SymbolTable::Function &function : symbols.functions())
        if (auto count = counts.at(function.start))
            note_function(file_record(tracefile, program), function.name, 0, *count);
    return tracefile;
}

void merge(Tracefile &into, const Tracefile &other) {
    for (const auto &[path, file] : other.files) {
        FileCoverage &target = into.files[path];
        for (const auto &[line, count] : file.lines) add_count(target.lines[line], count);
        for (const auto &[name, function] : file.functions) note_function(target, name, function.line, function.count);
    }
}

std::optional<Tracefile> parse_lcov(std::string_view text, std::string &error) {
    Tracefile tracefile;
    FileCoverage *file = nullptr;
    size_t number = 0;
    while (!text.empty()) {
        number++;
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        size_t colon = line.find(':');
        std::string_view key = line.substr(0, colon);
        std::string_view value = colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
        auto reader = kLineReaders.find(key);
        bool read = reader != kLineReaders.end() && reader->second(value, tracefile, file);
        if (!read) {
            error = "line " + std::to_string(number) + " is not part of an lcov tracefile";
            return std::nullopt;
        }
    }
    if (file != nullptr) {
        error = "its last record has no end_of_record";
        return std::nullopt;
    }
    return tracefile;
}

std::string format_lcov(const Tracefile &tracefile) {
    std::string text;
    auto add = [&text](std::string_view key, const std::string &value) {
        text.append(key).append(":").append(value).append("\n");
    };
    for (const auto &[path, file] : tracefile.files) {
        add("TN", "");
        add("SF", path);
        size_t functions_hit = 0, lines_hit = 0;
        for (const auto &[name, function] : file.functions) add("FN", std::to_string(function.line) + "," + name);
        for (const auto &[name, function] : file.functions) {
            add("FNDA", std::to_string(function.count) + "," + name);
            functions_hit += function.count != 0;
        }
        add("FNF", std::to_string(file.functions.size()));
        add("FNH", std::to_string(functions_hit));
        for (const auto &[line, count] : file.lines) {
            add("DA", std::to_string(line) + "," + std::to_string(count));
            lines_hit += count != 0;
        }
        add("LF", std::to_string(file.lines.size()));
        add("LH", std::to_string(lines_hit));
        text += "end_of_record\n";
    }
    return text;
}

}  // namespace kiv
