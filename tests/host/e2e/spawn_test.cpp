// Processes: a guest program runs children of itself under kivrun and
// checks what they did; the host checks the reports, the trace and that no
// process outlives the run.
#include <fnmatch.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string_view>

#include "case_name.h"
#include "guest_runner.h"
#include "run/spawn_record.h"

namespace kiv::test {
namespace {

// One process's lines of the JSON trace, in order, each as a pattern: a
// call in trace syntax for call_matches (texts unquoted, as JSON holds
// them), "--- NOTE" or "+++ END +++" as a shell pattern.
using ProcessLines = std::vector<std::string>;

struct Family {
    const char *name;
    const char *scenario;
    std::vector<std::string> options;
    int status;
    // Patterns that must match somewhere on standard error. The processes
    // write to it at once, so lines of others may come between two of one,
    // and a call another line interrupted shows as "<unfinished ...>" and
    // "<... NAME resumed>", as strace -f shows it.
    std::vector<std::string> reports;
    // When given, the run writes a JSON trace, which must hold these lines:
    // the first process's, then each child's in the order they started.
    std::vector<ProcessLines> processes = {};
};

void PrintTo(const Family &family, std::ostream *out) { *out << family.name; }

// spawn_ex of the fixture itself with `argv` (quoted words, in trace
// syntax) and no descriptors handed over, as a call pattern.
std::string spawn_self(const std::string &argv, int argc, const std::string &result = "*") {
    return R"(spawn_ex({path="/fx_spawn", argv=[)" + argv + "], argc=" + std::to_string(argc) +
           ", -1, -1, -1, flag=0}) = " + result;
}

const std::string kChildFault =
    R"(kivrun: \[pid \d+\] /fx_spawn: page fault \(write to unmapped memory\) at eip 0x[0-9a-f]+ \(fault\+0x[0-9a-f]+\), )"
    R"(address 0x8\n)";

const Family kFamilies[] = {
    {"pipe", "pipe", {}, 0, {}},
    {"statuses", "statuses", {}, 0, {kChildFault}},
    // The trace on standard error takes nothing from kivrun's own reports.
    {"statuses-traced", "statuses", {"-t"}, 0, {kChildFault}},
    // Children take the trace's form from their parent.
    {"statuses-trace-form-inherited",
     "statuses",
     {"-tt", "-e", "trace=exit"},
     0,
     {R"(^(?![\s\S]*(waitpid|spawn_ex)\())",
      R"(\n\[pid (\d+)\] \d\d:\d\d:\d\d\.\d{6} exit\(7(\) = \?| <unfinished \.\.\.>)\n(.*\n)*?)"
      R"(\[pid \1\] [0-9:.]+ \+\+\+ exited with 7 \+\+\+\n)",
      R"(\n\[pid \d+\] [0-9:.]+ --- #0 0x[0-9a-f]+ \(fault\+0x[0-9a-f]+\)\n)",
      R"(\n\[pid \d+\] [0-9:.]+ \+\+\+ killed by SIGSEGV \+\+\+\n)"}},
    // A filled status word shows as strace shows one.
    {"statuses-status-words",
     "statuses",
     {"-e", "trace=waitpid"},
     0,
     {},
     {{"waitpid(*, [{WIFEXITED(s) && WEXITSTATUS(s) == 7}], 0x0) = *",
       "waitpid(*, [{WIFSIGNALED(s) && WTERMSIG(s) == SIGSEGV}], 0x0) = *", "+++ exited with 0 +++"},
      {"+++ exited with 7 +++"},
      {"--- fault: page fault (write to unmapped memory)*", "--- #0 0x* (fault+0x*)", "--- #1 *",
       "+++ killed by SIGSEGV +++"}}},
    {"statuses-counted",
     "statuses",
     {"-c"},
     0,
     {R"(\n\[pid \d+\] +100\.00 +\d+\.\d{6} +\d+ +1 +exit\n)", R"(\n\[pid \d+\] +100\.00 .* 7 +total\n)"}},
    {"statuses-json-trace",
     "statuses",
     {},
     0,
     {},
     {{spawn_self(R"("fx_spawn", "exit", "7")", 3), "write(2, *, *) = *",
       "waitpid(*, [{WIFEXITED(s) && WEXITSTATUS(s) == 7}], 0x0) = *", spawn_self(R"("fx_spawn", "fault")", 2),
       "write(2, *, *) = *", "waitpid(*, [{WIFSIGNALED(s) && WTERMSIG(s) == SIGSEGV}], 0x0) = *", "exit(0) = ?",
       "+++ exited with 0 +++"},
      {"exit(7) = ?", "+++ exited with 7 +++"},
      {"--- fault: *", "--- #0 *", "--- #1 *", "+++ killed by SIGSEGV +++"}}},
    {"flooded-pipe", "flooded-pipe", {}, 0, {}},
    {"reverse-order", "reverse-order", {}, 0, {}},
    {"refusals",
     "refusals",
     {},
     0,
     {},
     {{R"(spawn(/missing, ["x"], 1) = -1 ENOENT)", R"(spawn(/../fx_spawn, ["x"], 1) = -1 EXDEV)",
       "writefile(/text, not a program, 13) = 13", "--- spawn: cannot run text: not an ELF file*",
       R"(spawn(text, ["x"], 1) = -1 ENOEXEC)", "spawn(/fx_spawn, 0x8, 1) = -1 EFAULT",
       R"(spawn_ex({path="/fx_spawn", argv=["x"], argc=1, 77, -1, -1, flag=0}) = -1 EBADF)",
       R"(spawn("", ["x"], 1) = -1 ENOENT)",
       R"(spawn_ex({path="/fx_spawn", argv=["x"], argc=1, -1, -1, -1, flag=2}) = -1 EINVAL)",
       "fd_set_stdio(-1, 77, -1) = -1 EBADF", "waitpid(1, *, 0x0) = -1 ECHILD", "waitpid(-1, *, 0x0) = -1 ECHILD",
       spawn_self(R"("fx_spawn", "exit", "7")", 3), "write(2, *, *) = *", "waitpid(*, 0x8, 0x0) = -1 EFAULT",
       "waitpid(*, [{WIFEXITED(s) && WEXITSTATUS(s) == 7}], 0x0) = *", "pipe([3, 4]) = 0",
       R"(spawn_ex({path="/fx_spawn", argv=["fx_spawn", "drain"], argc=2, 3, -1, -1, flag=0}) = *)",
       "write(2, *, *) = *",
       // Nothing reaped, nothing filled.
       "waitpid(*, *, 0x1) = 0", "close(4) = 0", "waitpid(*, [{WIFEXITED(s) && WEXITSTATUS(s) == 0}], 0x0) = *",
       "exit(0) = ?", "+++ exited with 0 +++"},
      {"exit(7) = ?", "+++ exited with 7 +++"},
      {R"(read(0, "", 64) = 0)", "exit(0) = ?", "+++ exited with 0 +++"}}},
    {"descriptors", "descriptors", {}, 0, {}},
    {"live-limit", "live-limit", {}, 0, {}},
    {"time-limit",
     "time-limit",
     {"--timeout", "1"},
     124,
     {R"(kivrun: .*fx_spawn: stopped after the time limit of 1 s)"}},
    // Children's memory counts against the run's limit while they live:
    // each process holds its image, stack and 32 MiB translation buffer
    // (about 41 MiB), so two and a 20 MiB mapping fit in 104 MiB, and a
    // child's 8 MiB more does not.
    {"memory-limit",
     "memory-limit",
     {"--max-memory", "104", "-e", "trace=spawn_ex,mmap"},
     0,
     {},
     {{"mmap(NULL, 20971520, *, *, -1, 0) = *", spawn_self(R"("fx_spawn", "map", "8")", 3),
       spawn_self(R"("fx_spawn", "map", "8")", 3), "mmap(NULL, 31457280, *, *, -1, 0) = *",
       spawn_self(R"("fx_spawn", "exit", "0")", 3, "-1 ENOMEM"), "+++ exited with 0 +++"},
      {"mmap(NULL, 8388608, *, *, -1, 0) = -1 ENOMEM", "+++ exited with 1 +++"},
      {"mmap(NULL, 8388608, *, *, -1, 0) = *", "+++ exited with 0 +++"}}},
};

// A JSON trace line as a pattern would spell it: a call in trace syntax,
// "--- NOTE" or "+++ END +++".
std::string json_line_text(const nlohmann::json &line) {
    if (line.contains("note")) return "--- " + line.at("note").get<std::string>();
    if (line.contains("end")) return "+++ " + line.at("end").get<std::string>() + " +++";
    std::string args;
    for (const auto &arg : line.at("args")) {
        std::string text = arg.is_string() ? arg.get<std::string>() : arg.dump();
        // An empty text as the text trace shows it: a pattern cannot hold an empty argument.
        args += (args.empty() ? "" : ", ") + (text.empty() ? "\"\"" : text);
    }
    std::string result = line.at("result").is_null() ? "?" : line.at("result").dump();
    if (!line.at("error").is_null()) result += " " + line.at("error").get<std::string>();
    return line.at("call").get<std::string>() + "(" + args + ") = " + result;
}

bool line_fits(const std::string &text, const std::string &pattern) {
    if (pattern.starts_with("--- ") || pattern.starts_with("+++ "))
        return fnmatch(pattern.c_str(), text.c_str(), 0) == 0;
    return call_matches(parse_traced_call(text), pattern);
}

// The JSON trace's lines by process, as text: the first process's (it
// outlives its children, so the last line is its end), then each child's
// in the order it first shows (the fixtures wait for one child before
// starting the next).
std::vector<std::vector<std::string>> lines_by_process(const std::string &trace) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(trace);
    for (std::string text; std::getline(in, text);) lines.push_back(nlohmann::json::parse(text, nullptr, false));
    if (lines.empty() || !lines.back().contains("pid")) return {};
    std::vector<int64_t> order{lines.back().at("pid").get<int64_t>()};
    std::vector<std::vector<std::string>> by_process(1);
    for (const auto &line : lines) {
        if (!line.contains("pid")) return {{"not a line of a traced process: " + line.dump()}};
        auto at = std::ranges::find(order, line.at("pid").get<int64_t>());
        if (at == order.end()) {
            order.push_back(line.at("pid").get<int64_t>());
            by_process.emplace_back();
            at = order.end() - 1;
        }
        by_process[static_cast<size_t>(at - order.begin())].push_back(json_line_text(line));
    }
    return by_process;
}

// Each process's lines against its patterns, in order: empty when all fit,
// else the first that does not and the trace.
std::string processes_mismatch(const std::string &trace, const std::vector<ProcessLines> &expected) {
    auto processes = lines_by_process(trace);
    if (processes.size() != expected.size())
        return std::to_string(processes.size()) + " processes, want " + std::to_string(expected.size()) + ":\n" + trace;
    for (size_t p = 0; p < processes.size(); p++) {
        std::string which = "process " + std::to_string(p) + ": ";
        if (processes[p].size() != expected[p].size())
            return which + std::to_string(processes[p].size()) + " lines, want " + std::to_string(expected[p].size()) +
                   ":\n" + trace;
        for (size_t i = 0; i < expected[p].size(); i++)
            if (!line_fits(processes[p][i], expected[p][i]))
                return which + processes[p][i] + "\ndoes not fit " + expected[p][i] + "\nin:\n" + trace;
    }
    return "";
}

class Processes : public testing::TestWithParam<Family> {};

TEST_P(Processes, ChildrenRunAsTheParentExpects) {
    const Family &family = GetParam();
    TempDir sandbox;
    std::filesystem::copy_file(guest_program("fx_spawn"), sandbox / "fx_spawn");
    std::vector<std::string> argv{KIVRUN_PATH, "--root", sandbox.path().string()};
    argv.insert(argv.end(), family.options.begin(), family.options.end());
    if (!family.processes.empty()) argv.insert(argv.end(), {"--trace-format=json", "-o", sandbox / "trace.json"});
    argv.insert(argv.end(), {sandbox / "fx_spawn", family.scenario});
    CommandRun run = run_command(argv);
    EXPECT_EQ(run.status, family.status) << run.out << run.err;
    EXPECT_EQ(run.out.find("FAIL"), std::string::npos) << run.out;
    std::string lines = "\n" + run.err;
    for (const auto &report : family.reports)
        EXPECT_TRUE(std::regex_search(lines, std::regex(report))) << report << "\nnot in:\n" << run.err;
    if (!family.processes.empty()) {
        EXPECT_EQ(processes_mismatch(sandbox.read("trace.json"), family.processes), "");
    }

    static const std::regex kSpawned(R"(spawned (\d+))");
    int spawned = 0;
    for (std::sregex_iterator it(run.err.begin(), run.err.end(), kSpawned), end; it != end; ++it, ++spawned)
        EXPECT_NE(kill(std::stoi((*it)[1]), 0), 0) << "process " << (*it)[1] << " outlived the run";
    EXPECT_GT(spawned, 0) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Processes, testing::ValuesIn(kFamilies), kCaseName);

// The trace file is opened once: children write to the same descriptor
// instead of opening (and truncating) it again; each child's lines come
// after the start of the spawn_ex that made it.
TEST(Processes, ChildrenAppendToTheTraceFile) {
    TempDir sandbox;
    std::filesystem::copy_file(guest_program("fx_spawn"), sandbox / "fx_spawn");
    CommandRun run = run_command({KIVRUN_PATH, "--root", sandbox.path().string(), "-o", sandbox / "trace.log",
                                  sandbox / "fx_spawn", "statuses"});
    EXPECT_EQ(run.status, 0) << run.err;
    auto bytes = read_test_file(sandbox / "trace.log");
    std::string trace(bytes.begin(), bytes.end());
    EXPECT_TRUE(std::regex_search(trace, std::regex(R"(^[\s\S]*\[pid (\d+)\] spawn_ex\()"
                                                    R"([\s\S]*\] (exit\(7|<\.\.\. exit resumed>)\) = \?\n)"
                                                    R"([\s\S]*\n\[pid \1\] \+\+\+ exited with 0 \+\+\+\n$)")))
        << trace;
}

// One trace line as the trace writes it: a whole call, the start of one
// that another process's line interrupted, its resumption, a note or an end.
struct TraceLine {
    enum class Kind { Whole, Unfinished, Resumed, Note, End } kind;
    int pid;           // 0: untagged, the first process before it had children
    std::string name;  // calls
    std::string body;  // the line after the tag
};

constexpr std::string_view kUnfinished = " <unfinished ...>";

bool call_name(std::string_view name) {
    return !name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz_0123456789") == std::string_view::npos;
}

// Hand-parsed: lines run to tens of kilobytes, past what std::regex handles.
std::optional<TraceLine> parse_trace_line(std::string_view line) {
    TraceLine parsed{TraceLine::Kind::Whole, 0, "", ""};
    if (line.starts_with("[pid ")) {
        size_t end = line.find("] ");
        if (end == std::string_view::npos ||
            std::from_chars(line.data() + 5, line.data() + end, parsed.pid).ptr != line.data() + end)
            return std::nullopt;
        line.remove_prefix(end + 2);
    }
    parsed.body = line;
    if (line.starts_with("--- ")) parsed.kind = TraceLine::Kind::Note;
    else if (line.starts_with("+++ ") && line.ends_with(" +++")) parsed.kind = TraceLine::Kind::End;
    else if (line.starts_with("<... ")) {
        parsed.kind = TraceLine::Kind::Resumed;
        size_t end = line.find(" resumed>");
        if (end == std::string_view::npos || line.find(") = ") == std::string_view::npos) return std::nullopt;
        parsed.name = line.substr(5, end - 5);
    } else {
        parsed.kind = line.ends_with(kUnfinished) ? TraceLine::Kind::Unfinished : TraceLine::Kind::Whole;
        parsed.name = line.substr(0, line.find('('));
        if (parsed.kind == TraceLine::Kind::Whole && line.find(") = ") == std::string_view::npos) return std::nullopt;
    }
    bool call = parsed.kind != TraceLine::Kind::Note && parsed.kind != TraceLine::Kind::End;
    if (call && !call_name(parsed.name)) return std::nullopt;
    return parsed;
}

// The bytes of the first quoted text on the line; nullopt when it is cut.
std::optional<std::string> first_quoted(std::string_view line) {
    size_t at = line.find('"');
    if (at == std::string_view::npos) return std::nullopt;
    std::string bytes;
    for (size_t i = at + 1; i < line.size(); i++) {
        if (line[i] == '"') return bytes;
        if (line[i] != '\\') {
            bytes += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == 'x' && i + 3 < line.size()) {
            bytes += static_cast<char>(std::stoi(std::string(line.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else if (i + 1 < line.size()) {
            constexpr std::string_view kLetters = "ntr\"\\", kBytes = "\n\t\r\"\\";
            size_t which = kLetters.find(line[++i]);
            if (which == std::string_view::npos) return std::nullopt;
            bytes += kBytes[which];
        }
    }
    return std::nullopt;
}

// Each traced write of the chorus: 5000 bytes, each one more than the last.
bool whole_write(std::string_view body) {
    auto bytes = first_quoted(body);
    if (!bytes || bytes->size() != 5000) return false;
    for (size_t i = 1; i < bytes->size(); i++)
        if (static_cast<uint8_t>((*bytes)[i]) != static_cast<uint8_t>((*bytes)[i - 1] + 1)) return false;
    return true;
}

// What every line of a multi-process trace must satisfy; empty when all do.
std::string trace_faults(const std::string &trace) {
    std::istringstream lines(trace);
    std::map<int, std::optional<std::string>> open_call;  // pid -> the call shown unfinished
    std::map<int, size_t> first_line, spawn_started, ended;
    std::map<int, size_t> call_start;  // pid -> line of its current call's start
    size_t writes = 0, index = 0;
    for (std::string text; std::getline(lines, text); index++) {
        auto line = parse_trace_line(text);
        std::string where = "line " + std::to_string(index) + ": " + text.substr(0, 200);
        if (!line) return "unparsed " + where;
        first_line.emplace(line->pid, index);
        auto &open = open_call[line->pid];
        if (line->kind == TraceLine::Kind::Resumed) {
            if (open != line->name) return "resumed without its start, " + where;
            open.reset();
        } else if (open) {
            return "a line of the process between a call's start and its resumption, " + where;
        }
        if (line->kind == TraceLine::Kind::Unfinished) open = line->name;
        if (line->kind == TraceLine::Kind::Whole || line->kind == TraceLine::Kind::Unfinished)
            call_start[line->pid] = index;
        if (line->kind == TraceLine::Kind::End) ended[line->pid] = index;
        if (line->name == "write" && line->kind != TraceLine::Kind::Resumed) {
            if (!whole_write(line->body)) return "torn write, " + where;
            writes++;
        }
        bool spawned = line->name == "spawn_ex" && line->kind != TraceLine::Kind::Unfinished;
        if (spawned) spawn_started[std::stoi(text.substr(text.rfind(") = ") + 4))] = call_start[line->pid];
    }
    if (writes != 4 * 20) return std::to_string(writes) + " writes traced, want 80";
    for (auto [child, started] : spawn_started)
        if (first_line.count(child) == 0 || first_line[child] <= started)
            return "process " + std::to_string(child) + " traced before the spawn_ex that made it";
    if (ended.size() != 4) return std::to_string(ended.size()) + " processes ended, want 4";
    return "";
}

struct Destination {
    const char *name;
    bool file;  // -o FILE, else standard error
};

const Destination kDestinations[] = {{"file", true}, {"standard_error", false}};

class LongTraceLines : public testing::TestWithParam<Destination> {};

// Four processes trace 5000-byte writes at once: every line stays whole.
TEST_P(LongTraceLines, StayWholeAmongProcesses) {
    TempDir sandbox;
    std::filesystem::copy_file(guest_program("fx_spawn"), sandbox / "fx_spawn");
    std::vector<std::string> argv{KIVRUN_PATH, "--root", sandbox.path().string(), "-s", "100000"};
    if (GetParam().file) argv.insert(argv.end(), {"-o", sandbox / "trace.log"});
    else argv.push_back("-t");
    argv.insert(argv.end(), {sandbox / "fx_spawn", "chorus"});
    CommandRun run = run_command(argv);
    EXPECT_EQ(run.status, 0) << run.err.substr(0, 2000);
    std::string trace = run.err;
    if (GetParam().file) {
        auto bytes = read_test_file(sandbox / "trace.log");
        trace.assign(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(trace_faults(trace), "");
}

INSTANTIATE_TEST_SUITE_P(Destinations, LongTraceLines, testing::ValuesIn(kDestinations), kCaseName);

// The hidden entry's descriptor is a plain decimal number, or kivrun says
// what it got instead of reading some other descriptor.
TEST(StartRecord, ADescriptorThatIsNoNumberIsNamed) {
    for (const char *word : {"", "x", "-1", "3x", "99999999999"}) {
        SCOPED_TRACE(word);
        CommandRun run = run_kivrun({kSpawnedOption, word});
        EXPECT_EQ(run.status, kExitHostError);
        EXPECT_TRUE(std::regex_match(run.err, std::regex(R"(kivrun: \[pid \d+\] no descriptor after )" +
                                                         std::string(kSpawnedOption) + ": '" + word + "'\n")))
            << run.err;
    }
}

TEST(StartRecord, AnUnreadableDescriptorIsAnUnreadableRecord) {
    CommandRun run = run_kivrun({kSpawnedOption, "987"});
    EXPECT_EQ(run.status, kExitHostError);
    EXPECT_TRUE(
        std::regex_match(run.err, std::regex(R"(kivrun: \[pid \d+\] unreadable start record of a spawned process\n)")))
        << run.err;
}

}  // namespace
}  // namespace kiv::test
