// Running guest programs from host tests: a run that captures the console
// bytes and the system-call trace, the kivrun command, gdb against it.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "host_command.h"
#include "run/run.h"
#include "test_files.h"

namespace kiv::test {

// One traced system call, split into its parts:
// `write(1, "a, b", 4) = 4` gives {"write", {"1", "\"a, b\"", "4"}, "4"}.
struct TracedCall {
    std::string name;
    std::vector<std::string> args;
    std::string result;  // the text after " = "
};

inline TracedCall parse_traced_call(const std::string &line) {
    TracedCall call;
    size_t open = line.find('(');
    call.name = line.substr(0, open);
    int depth = 0;
    bool quoted = false;
    std::string current;
    size_t i = open + 1;
    for (; i < line.size(); i++) {
        char c = line[i];
        if (quoted) {
            current += c;
            if (c == '\\' && i + 1 < line.size()) current += line[++i];
            else if (c == '"') quoted = false;
            continue;
        }
        if (c == '"') quoted = true;
        if (c == '[' || c == '{') depth++;
        if (c == ']' || c == '}') depth--;
        if (depth == 0 && (c == ')' || (c == ',' && line[i + 1] == ' '))) {
            if (!current.empty()) call.args.push_back(current);
            current.clear();
            if (c == ')') break;
            i++;
            continue;
        }
        current += c;
    }
    size_t equals = line.find(" = ", i);
    if (equals != std::string::npos) call.result = line.substr(equals + 3);
    return call;
}

struct GuestRun {
    RunResult result;
    std::string out;    // bytes the guest wrote to descriptor 1
    std::string trace;  // the system-call trace
    std::string notes;  // what kivrun told its user besides the result

    std::vector<std::string> trace_lines() const {
        std::vector<std::string> lines;
        std::istringstream in(trace);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::vector<TracedCall> traced_calls() const {
        std::vector<TracedCall> calls;
        for (auto &line : trace_lines())
            if (line.find('(') != std::string::npos && line.rfind("---", 0) != 0)
                calls.push_back(parse_traced_call(line));
        return calls;
    }
    // Trace lines that start with `call` followed by '('.
    std::vector<std::string> calls(const std::string &call) const {
        std::vector<std::string> found;
        for (auto &line : trace_lines())
            if (line.rfind(call + "(", 0) == 0) found.push_back(line);
        return found;
    }
};

// Whether a traced call fits a pattern in trace syntax: an argument "*"
// matches anything; a result matches the actual one's first word ("-1"
// matches "-1 ENOENT (...)"), and "*" matches any result.
inline bool call_matches(const TracedCall &actual, const std::string &pattern) {
    TracedCall expected = parse_traced_call(pattern);
    if (actual.name != expected.name || actual.args.size() != expected.args.size()) return false;
    for (size_t i = 0; i < expected.args.size(); i++)
        if (expected.args[i] != "*" && actual.args[i] != expected.args[i]) return false;
    const std::string &result = actual.result;
    if (expected.result == "*") return true;
    return result.rfind(expected.result, 0) == 0 &&
           (result.size() == expected.result.size() || result[expected.result.size()] == ' ');
}

// The whole trace against one pattern per call, in order: empty when every
// call fits, else what went wrong and the trace.
inline std::string trace_mismatch(const GuestRun &run, const std::vector<std::string> &patterns) {
    auto calls = run.traced_calls();
    if (calls.size() != patterns.size())
        return std::to_string(calls.size()) + " calls, want " + std::to_string(patterns.size()) + ":\n" + run.trace;
    for (size_t i = 0; i < calls.size(); i++)
        if (!call_matches(calls[i], patterns[i]))
            return "call " + std::to_string(i) + " does not fit " + patterns[i] + ":\n" + run.trace;
    return "";
}

// Runs `program` with argv = {program, args...}; `input` is what the guest
// reads from descriptor 0. Unless options.root names one, the guest's root
// is a fresh empty directory: no test touches the build tree.
inline GuestRun run_guest(const std::string &program, const std::vector<std::string> &args = {},
                          RunOptions options = {}, const std::string &input = "") {
    std::optional<TempDir> fresh_root;
    if (options.root == RunOptions{}.root) options.root = fresh_root.emplace().path();
    int out = memfd_create("guest-out", 0);
    int in = memfd_create("guest-in", 0);
    if (!input.empty()) (void)!::write(in, input.data(), input.size());
    lseek(in, 0, SEEK_SET);
    FILE *trace = tmpfile();
    FILE *notes = tmpfile();
    options.console_in = in;
    options.console_out = out;
    options.trace = trace;
    options.diagnostics = notes;
    options.settings.runner = KIVRUN_PATH;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    GuestRun run{run_program(program, argv, options), read_all_from_start(out), read_all_from_start(fileno(trace)),
                 read_all_from_start(fileno(notes))};
    fclose(trace);
    fclose(notes);
    ::close(out);
    ::close(in);
    return run;
}

// The kivrun command with `args`, run to its end.
inline CommandRun run_kivrun(const std::vector<std::string> &args, CommandOptions options = {}) {
    std::vector<std::string> argv{KIVRUN_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv, options);
}

inline constexpr const char *kGdbWaiting = "kivrun: waiting for gdb on 127.0.0.1:";

// kivrun started with --gdb on a port of its choosing (and `options`
// besides), waiting for a peer.
class DebuggedRun {
public:
    DebuggedRun(const std::string &program, const std::vector<std::string> &args,
                const std::vector<std::string> &options = {})
        : kivrun_(argv(program, args, options)) {
        std::string line = kivrun_.read_error_line();
        if (line.rfind(kGdbWaiting, 0) == 0) port_ = std::stoi(line.substr(std::string(kGdbWaiting).size()));
    }

    int port() const { return port_; }
    CommandRun finish() { return kivrun_.finish(); }

private:
    static std::vector<std::string> argv(const std::string &program, const std::vector<std::string> &args,
                                         const std::vector<std::string> &options) {
        std::vector<std::string> words{KIVRUN_PATH, "--timeout", "60", "--gdb", "0"};
        words.insert(words.end(), options.begin(), options.end());
        words.push_back(program);
        words.insert(words.end(), args.begin(), args.end());
        return words;
    }

    BackgroundCommand kivrun_;
    int port_ = 0;
};

// Whether each of `expected` appears in `transcript`, each after the one before.
inline testing::AssertionResult appears_in_order(const std::string &transcript,
                                                 const std::vector<std::string> &expected) {
    size_t at = 0;
    for (const auto &text : expected) {
        at = transcript.find(text, at);
        if (at == std::string::npos)
            return testing::AssertionFailure() << "no '" << text << "' in order in:\n" << transcript;
    }
    return testing::AssertionSuccess();
}

// Debian's gdb in batch mode on `program`, connected to `port`, running
// `commands` after `target remote`.
inline CommandRun run_gdb(int port, const std::vector<std::string> &commands, const std::string &program) {
    std::vector<std::string> gdb{"gdb", "-batch", "-nx", "-ex", "target remote 127.0.0.1:" + std::to_string(port)};
    for (const auto &command : commands) gdb.insert(gdb.end(), {"-ex", command});
    gdb.push_back(program);
    return run_command(gdb);
}

}  // namespace kiv::test
