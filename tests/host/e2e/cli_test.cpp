// The kivrun command as a user meets it: help, errors in one line with a
// documented status, the guest's status passed through, the trace to a file.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "case_name.h"
#include "cli/command_line.h"
#include "dispatch/inject.h"
#include "guest_runner.h"
#include "options.h"
#include "os/call_columns.h"
#include "support/number.h"
#include "support/unique_fd.h"

namespace kiv::test {
namespace {

using Invocation = CommandRun;

// Debian 12's Unicorn 2.0.1 takes a slow path on every guest store; the
// build must use 2.1 or later.
TEST(Cli, VersionNamesTheEmulatorItWasBuiltWith) {
    Invocation run = run_kivrun({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("kivrun 1.0 (Unicorn 2.")) << run.out;
    EXPECT_EQ(run.out.find("Unicorn 2.0."), std::string::npos) << run.out;
}

size_t line_count(const std::string &text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(Cli, HelpTellsTheOptionsAndStatuses) {
    Invocation run = run_kivrun({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char *word : {"Usage: kivrun", "--root", "--trace", "--timeout", "--max-blocks", "--max-memory", "--gdb",
                             "--coverage", "--nic", "--version", "KIVRUN_OPTIONS", "124", "125", "126", "127", "128+N"})
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    EXPECT_EQ(run.err, "");
}

struct Mistake {
    const char *name;
    std::vector<std::string> args;
    int status;
    const char *message;  // usage mistakes: the whole first line after "kivrun: "
};

constexpr int kUsage = 125;
const std::string kFixedHello = KIV_GUEST_DIR "/tests/fixed_hello";

const Mistake kMistakes[] = {
    {"no_program", {}, kUsage, "no program given"},
    {"unknown_option", {"--bogus", "x"}, kUsage, "unknown option '--bogus'"},
    {"unknown_letter", {"-q", "x"}, kUsage, "unknown option '-q'"},
    {"unknown_letter_in_a_cluster", {"-xh", "x"}, kUsage, "unknown option '-x'"},
    {"missing_value", {"--root"}, kUsage, "option '--root' needs a value"},
    {"missing_value_of_a_letter", {"-T"}, kUsage, "option '-T' needs a value"},
    {"missing_value_long_only", {"--nic-mac"}, kUsage, "option '--nic-mac' needs a value"},
    {"value_for_a_flag", {"--no-sleep=1", "x"}, kUsage, "option '--no-sleep' takes no value"},
    {"bad_timeout",
     {"--timeout", "soon", "x"},
     kUsage,
     "invalid value 'soon' for '--timeout' (a positive number of seconds)"},
    {"negative_timeout", {"-T", "-1", "x"}, kUsage, "invalid value '-1' for '-T' (a positive number of seconds)"},
    {"hex_timeout", {"-T0x10", "x"}, kUsage, "invalid value '0x10' for '-T' (a positive number of seconds)"},
    {"bad_blocks",
     {"--max-blocks", "0", "x"},
     kUsage,
     "invalid value '0' for '--max-blocks' (a 64-bit number above 0: decimal or 0x-hex)"},
    {"bad_memory",
     {"--max-memory", "0", "x"},
     kUsage,
     "invalid value '0' for '--max-memory' (a 32-bit number above 0: decimal or 0x-hex)"},
    {"gdb_port_over_16_bits",
     {"--gdb", "65536", "x"},
     kUsage,
     "invalid value '65536' for '--gdb' (a 16-bit number: decimal or 0x-hex)"},
    {"negative_gdb_port",
     {"-g", "-1", "x"},
     kUsage,
     "invalid value '-1' for '-g' (a 16-bit number: decimal or 0x-hex)"},
    {"bad_tsc",
     {"--tsc=5:", "x"},
     kUsage,
     "invalid value '5:' for '--tsc' (START or START:STEP, each a 64-bit number: decimal or 0x-hex)"},
    {"bad_nic", {"--nic", "wifi", "x"}, kUsage, "invalid value 'wifi' for '--nic' (sim, host or absent)"},
    {"bad_pci",
     {"--nic-pci", "00:20.0", "x"},
     kUsage,
     "invalid value '00:20.0' for '--nic-pci' (BB:DD.F in hex, device up to 1f, function up to 7)"},
    {"bad_mac",
     {"--nic-mac", "52:54:00", "x"},
     kUsage,
     "invalid value '52:54:00' for '--nic-mac' (six hex octets joined by ':')"},
    {"non_hex_pci_bus",
     {"--nic-pci", "0g:03.0", "x"},
     kUsage,
     "invalid value '0g:03.0' for '--nic-pci' (BB:DD.F in hex, device up to 1f, function up to 7)"},
    {"pci_function_above_7",
     {"--nic-pci", "00:03.8", "x"},
     kUsage,
     "invalid value '00:03.8' for '--nic-pci' (BB:DD.F in hex, device up to 1f, function up to 7)"},
    {"non_hex_mac_octet",
     {"--nic-mac", "52:54:00:12:34:5z", "x"},
     kUsage,
     "invalid value '52:54:00:12:34:5z' for '--nic-mac' (six hex octets joined by ':')"},
    {"mmio_over_32_bits",
     {"--nic-mmio", "0x100000000", "x"},
     kUsage,
     "invalid value '0x100000000' for '--nic-mmio' (a 32-bit number: decimal or 0x-hex)"},
    {"octal_mmio",
     {"--nic-mmio=010", "x"},
     kUsage,
     "invalid value '010' for '--nic-mmio' (a 32-bit number: decimal or 0x-hex)"},
    {"junk_after_link",
     {"--nic-link", "1x", "x"},
     kUsage,
     "invalid value '1x' for '--nic-link' (a 32-bit number: decimal or 0x-hex)"},
    {"control_bytes_in_an_option", {"--bo\agus", "x"}, kUsage, "unknown option '--bo\\x07gus'"},
    {"control_bytes_in_a_value",
     {"--nic-mac=\x1b[2J", "x"},
     kUsage,
     "invalid value '\\x1b[2J' for '--nic-mac' (six hex octets joined by ':')"},
    {"unwritable_trace",
     {"--trace=/nonexistent-dir/t", kFixedHello},
     kUsage,
     "cannot write the trace to '/nonexistent-dir/t': No such file or directory"},
    {"coverage_format_alone", {"--coverage-format=drcov", kFixedHello}, kUsage, "--coverage-format needs --coverage"},
    {"unknown_coverage_format",
     {"--coverage=x", "--coverage-format=gcov", kFixedHello},
     kUsage,
     "invalid value 'gcov' for '--coverage-format' (lcov or drcov)"},
    {"empty_coverage_file", {"--coverage=", kFixedHello}, kUsage, "invalid value '' for '--coverage' (a file name)"},
    {"unwritable_coverage",
     {"--coverage=/nonexistent-dir/c.info", kFixedHello},
     kUsage,
     "cannot write the coverage to '/nonexistent-dir/c.info': No such file or directory"},
    {"unknown_traced_call",
     {"-e", "trace=write,bogus", "x"},
     kUsage,
     "invalid value 'trace=write,bogus' for '-e' (unknown call 'bogus'; known calls: write, exit, read, open,"},
    {"unknown_class",
     {"-e", "trace=%net", "x"},
     kUsage,
     "invalid value 'trace=%net' for '-e' (unknown class '%net'; known classes: %file, %process, %memory, "
     "%desc, %console, %nic)"},
    {"unknown_injected_call",
     {"-e", "inject=wirte:error=EIO", "x"},
     kUsage,
     "invalid value 'inject=wirte:error=EIO' for '-e' (unknown call 'wirte'; known calls: write,"},
    {"unknown_expression",
     {"-e", "signal=all", "x"},
     kUsage,
     "invalid value 'signal=all' for '-e' (neither trace=CALLS nor inject=CALLS:ACTION)"},
    {"unknown_error_name",
     {"-e", "inject=write:error=EBOGUS", "x"},
     kUsage,
     "invalid value 'inject=write:error=EBOGUS' for '-e' (unknown error name 'EBOGUS')"},
    {"injection_without_action",
     {"-e", "inject=write:when=2", "x"},
     kUsage,
     "invalid value 'inject=write:when=2' for '-e' (no action: give error=ENAME, retval=N or short=N)"},
    {"two_actions",
     {"-e", "inject=write:retval=1:error=EIO", "x"},
     kUsage,
     "invalid value 'inject=write:retval=1:error=EIO' for '-e' (a second action 'error=EIO')"},
    {"unknown_setting",
     {"-e", "inject=write:signal=SEGV", "x"},
     kUsage,
     "invalid value 'inject=write:signal=SEGV' for '-e' ('signal=SEGV' is none of error=, retval=, short=, when=)"},
    {"bad_retval",
     {"-e", "inject=write:retval=-2", "x"},
     kUsage,
     "invalid value 'inject=write:retval=-2' for '-e' (retval=-2: not a number from 0 to 2147483647)"},
    {"short_on_a_call_without_bytes",
     {"-e", "inject=nic_query:short=1", "x"},
     kUsage,
     "invalid value 'inject=nic_query:short=1' for '-e' (short= on nic_query, which moves no bytes through a buffer)"},
    {"when_zero",
     {"-e", "inject=write:error=EIO:when=0", "x"},
     kUsage,
     "invalid value 'inject=write:error=EIO:when=0' for '-e' (when=0: not N, N+ or N+STEP with each N at least 1)"},
    {"when_step_zero",
     {"-e", "inject=write:error=EIO:when=1+0", "x"},
     kUsage,
     "invalid value 'inject=write:error=EIO:when=1+0' for '-e' (when=1+0: not N, N+ or N+STEP"},
    {"when_twice",
     {"-e", "inject=write:error=EIO:when=1:when=2", "x"},
     kUsage,
     "invalid value 'inject=write:error=EIO:when=1:when=2' for '-e' (when= given twice)"},
    {"bad_trace_format",
     {"--trace-format=xml", "x"},
     kUsage,
     "invalid value 'xml' for '--trace-format' (text or json)"},
    {"string_limit_too_big",
     {"-s", "2000000", "x"},
     kUsage,
     "invalid value '2000000' for '-s' (a 32-bit number up to 1048576: decimal or 0x-hex)"},
    {"bad_root", {"--root", "/nonexistent-root", kFixedHello}, 125, nullptr},
    {"missing_program", {"/nonexistent-program"}, 127, nullptr},
    {"not_an_executable", {KIV_SOURCE_DIR "/Makefile"}, 126, nullptr},
};

class CliMistakes : public testing::TestWithParam<Mistake> {};

TEST_P(CliMistakes, GiveOneLineAndAStatus) {
    Invocation run = run_kivrun(GetParam().args);
    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(std::all_of(run.err.begin(), run.err.end(), [](char c) {
        return c == '\n' || (c >= 0x20 && c < 0x7f);
    })) << run.err;
    if (GetParam().message != nullptr) {
        EXPECT_EQ(run.err.rfind("kivrun: " + std::string(GetParam().message), 0), 0u) << run.err;
        EXPECT_TRUE(run.err.ends_with("\nTry 'kivrun --help' for more information.\n")) << run.err;
        EXPECT_EQ(line_count(run.err), 2u) << run.err;
    } else {
        EXPECT_EQ(run.err.rfind("kivrun: ", 0), 0u) << run.err;
        EXPECT_EQ(line_count(run.err), 1u) << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Mistakes, CliMistakes, testing::ValuesIn(kMistakes), kCaseName);

struct Reading {
    const char *name;
    std::vector<std::string> args;
    std::optional<int> exit_status;  // nullopt: kivrun goes on to run the program
    std::function<void(const CommandLine &)> check;
    const char *environment = nullptr;  // KIVRUN_OPTIONS
};

CommandLine read_in_process(std::vector<std::string> args, const char *environment) {
    args.insert(args.begin(), "kivrun");
    std::vector<char *> argv;
    for (auto &arg : args) argv.push_back(arg.data());
    return read_command_line(static_cast<int>(argv.size()), argv.data(), environment);
}

// A mistake in KIVRUN_OPTIONS, reported as coming from there.
std::function<void(const CommandLine &)> environment_mistake(std::string message) {
    return [message](const CommandLine &line) {
        EXPECT_EQ(line.message, "kivrun: KIVRUN_OPTIONS: " + message + "\nTry 'kivrun --help' for more information.\n");
    };
}

// The words become typed settings once, in process; nothing is printed.
const Reading kReadings[] = {
    {"trace_letters",
     {"-tt", "-s", "7", "--trace-format=json", "prog", "-t"},
     std::nullopt,
     [](const CommandLine &line) {
         const TraceSettings &trace = line.run.settings.trace_settings;
         EXPECT_TRUE(trace.enabled && trace.times && !trace.summary_only);
         EXPECT_EQ(trace.string_limit, 7u);
         EXPECT_EQ(trace.format, TraceFormat::Json);
         EXPECT_EQ(line.program, (std::vector<std::string>{"prog", "-t"}));
         EXPECT_FALSE(line.trace_path.has_value());
     }},
    {"trace_file_and_selection",
     {"-o", "/tmp/t", "-e", "trace=write,exit", "-c", "prog"},
     std::nullopt,
     [](const CommandLine &line) {
         EXPECT_EQ(line.trace_path, "/tmp/t");
         EXPECT_EQ(line.run.settings.trace_settings.selected.size(), 2u);
         EXPECT_TRUE(line.run.settings.trace_settings.summary_only);
     }},
    {"injections_in_order",
     {"-e", "inject=write:error=EIO:when=2+3", "-e", "inject=read:short=1", "prog"},
     std::nullopt,
     [](const CommandLine &line) {
         const auto &injections = line.run.settings.injection.injections;
         ASSERT_EQ(injections.size(), 2u);
         EXPECT_EQ(injections[0].kind, Injection::Kind::Error);
         EXPECT_EQ(injections[0].value, EIO);
         EXPECT_EQ(injections[0].first, 2u);
         EXPECT_EQ(injections[0].step, 3u);
         EXPECT_EQ(injections[1].kind, Injection::Kind::Short);
     }},
    {"limits_and_machine",
     {"--timeout=1.5", "--max-blocks", "9", "--tsc", "5:2", "--no-sleep", "-g", "0", "-r", "/r", "p"},
     std::nullopt,
     [](const CommandLine &line) {
         EXPECT_EQ(line.run.settings.timeout_seconds, 1.5);
         EXPECT_EQ(line.run.settings.block_limit, 9u);
         ASSERT_TRUE(line.run.settings.tsc.has_value());
         EXPECT_EQ(line.run.settings.tsc->at(1), 7u);
         EXPECT_TRUE(line.run.settings.skip_sleeps);
         EXPECT_EQ(line.run.gdb_port, 0);
         EXPECT_EQ(line.run.root, "/r");
     }},
    {"nic",
     {"--nic=host", "--sysfs-root", "/s", "--nic-mac", "00:1b:21:aa:bb:cc", "--nic-link=0", "p"},
     std::nullopt,
     [](const CommandLine &line) {
         EXPECT_EQ(line.run.settings.nic.source, NicSource::Host);
         EXPECT_EQ(line.run.settings.nic.sysfs_root, "/s");
         EXPECT_EQ(line.run.settings.nic.simulated.mac[5], 0xcc);
         EXPECT_EQ(line.run.settings.nic.simulated.link, 0u);
     }},
    {"help_stops_reading",
     {"--help", "--bogus"},
     0,
     [](const CommandLine &line) {
         EXPECT_TRUE(line.message.starts_with("Usage: kivrun [OPTION]... PROGRAM [ARG]...\n")) << line.message;
     }},
    {"version",
     {"--version"},
     0,
     [](const CommandLine &line) { EXPECT_TRUE(line.message.starts_with("kivrun 1.0 (Unicorn ")) << line.message; }},
    {"first_mistake_wins",
     {"--max-blocks=0", "--bogus", "p"},
     kExitHostError,
     [](const CommandLine &line) {
         EXPECT_TRUE(line.message.starts_with("kivrun: invalid value '0' for '--max-blocks'")) << line.message;
     }},
    {"no_program",
     {"-t"},
     kExitHostError,
     [](const CommandLine &line) {
         EXPECT_EQ(line.message, "kivrun: no program given\nTry 'kivrun --help' for more information.\n");
     }},
    // KIVRUN_OPTIONS comes first: the command line's value wins, the rest
    // stays, and a list option adds to it.
    {"environment_before_the_command_line",
     {"--timeout=1.5", "-e", "inject=read:short=1", "p", "--max-blocks=3"},
     std::nullopt,
     [](const CommandLine &line) {
         EXPECT_EQ(line.run.settings.timeout_seconds, 1.5);
         EXPECT_EQ(line.run.settings.block_limit, 9u);
         EXPECT_EQ(line.run.root, "/a b/c'd");
         EXPECT_EQ(line.run.settings.injection.injections.size(), 2u);
         EXPECT_EQ(line.program, (std::vector<std::string>{"p", "--max-blocks=3"}));
     },
     "--timeout 5 \t--max-blocks=9 -r '/a b'\"/c'd\" -e inject=write:error=EIO\n"},
    {"environment_of_blanks",
     {"p"},
     std::nullopt,
     [](const CommandLine &line) { EXPECT_EQ(line.run.root, RunOptions{}.root); },
     " \t\n"},
    {"environment_coverage",
     {"p"},
     std::nullopt,
     [](const CommandLine &line) { EXPECT_EQ(line.run.settings.coverage.path, "/suite/all.info"); },
     "--coverage=/suite/all.info"},
    {"environment_help",
     {"p"},
     0,
     [](const CommandLine &line) { EXPECT_TRUE(line.message.starts_with("Usage: kivrun ")) << line.message; },
     "--help"},
    {"environment_unknown_option",
     {"p"},
     kExitHostError,
     environment_mistake("unknown option '--bogus'"),
     "--no-sleep --bogus"},
    {"environment_bad_value",
     {"p"},
     kExitHostError,
     environment_mistake("invalid value '0' for '--max-blocks' (a 64-bit number above 0: decimal or 0x-hex)"),
     "--max-blocks 0"},
    {"environment_names_a_program",
     {"p"},
     kExitHostError,
     environment_mistake("'q' is not an option (the program is named on the command line)"),
     "-t q"},
    {"environment_after_end_of_options",
     {"p"},
     kExitHostError,
     environment_mistake("'q' is not an option (the program is named on the command line)"),
     "-- q"},
    {"environment_open_quote", {"p"}, kExitHostError, environment_mistake("a ' is not closed"), "-r '/a"},
    {"environment_final_backslash", {"p"}, kExitHostError, environment_mistake("it ends with a backslash"), "-r /a\\"},
    {"environment_first_mistake_wins",
     {"--bogus", "p"},
     kExitHostError,
     environment_mistake("unknown option '--worse'"),
     "--worse"},
};

class CliReadings : public testing::TestWithParam<Reading> {};

TEST_P(CliReadings, BecomeTypedSettings) {
    CommandLine line = read_in_process(GetParam().args, GetParam().environment);
    EXPECT_EQ(line.exit_status, GetParam().exit_status) << line.message;
    GetParam().check(line);
}

INSTANTIATE_TEST_SUITE_P(Readings, CliReadings, testing::ValuesIn(kReadings), kCaseName);

// Too little address space for the guest is the host's fault, not the
// program's.
TEST(Cli, AnAddressSpaceLimitIsReportedAsSuch) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer itself needs more address space than the limit leaves";
#endif
    Invocation run = run_command(
        {"/bin/sh", "-c", "ulimit -v 3000000 && exec \"$0\" \"$1\"", KIVRUN_PATH, kFixedHello});
    EXPECT_EQ(run.status, kExitHostError);
    EXPECT_EQ(run.err, "kivrun: cannot reserve host address space for the guest's 4 GiB (is ulimit -v set?)\n");
}

TEST(Cli, OptionsEndAtTheProgram) {
    // Everything after the program belongs to it, options included, even
    // those kivrun has too.
    Invocation run = run_kivrun({"-r", "/", guest_program("fx_args"), "7", "-r", "y", "--", "--bogus"});
    EXPECT_EQ(run.status, 7);
    EXPECT_NE(run.out.find("argv[2]=-r\nargv[3]=y\nargv[4]=--\nargv[5]=--bogus\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
}

TEST(Cli, NicOptionsReachTheGuest) {
    Invocation run = run_kivrun({"--nic-pci=02:1f.7", "--nic-mmio", "0xFEBC1000", "--nic-mac", "00:1b:21:aa:bb:cc",
                                 "--nic-link=0", command_program("nicsounder")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        run.out,
        "E1000 Probe Results:\n  PCI: 02:1f.7\n  MMIO Base: 0xfebc1000\n  MAC: 00:1b:21:aa:bb:cc\n  Link: DOWN\n");
}

struct NumberText {
    const char *text;
    std::optional<uint32_t> value;  // nullopt: refused
};

// One grammar for every numeric option, at the option's width.
const NumberText kNumberTexts[] = {
    {"0", 0u},
    {"4294967295", 0xffffffffu},
    {"0xffffffff", 0xffffffffu},
    {"0XaB", 0xabu},
    {"0x0010", 0x10u},
    {"010", {}},
    {"00", {}},
    {"4294967296", {}},
    {"0x100000000", {}},
    {"", {}},
    {"0x", {}},
    {"-1", {}},
    {"+1", {}},
    {"0x-1", {}},
    {" 1", {}},
    {"1 ", {}},
    {"12abc", {}},
    {"0x1g", {}},
    {"0x00000000ffffffff", 0xffffffffu},
    {"0xFfFfFfFf", 0xffffffffu},
    {"0x0x1", {}},
};

TEST(Cli, NumbersAreDecimalOrHexWithinTheWidth) {
    for (const auto &number : kNumberTexts) {
        SCOPED_TRACE(number.text);
        Result<uint32_t> value = parse_number<uint32_t>(number.text);
        ASSERT_EQ(value.has_value(), number.value.has_value());
        if (value) EXPECT_EQ(*value, *number.value);
        else EXPECT_EQ(value.error(), "a 32-bit number: decimal or 0x-hex");
    }
}

struct SplitText {
    const char *text;
    std::optional<std::vector<std::string>> words;  // nullopt: refused
};

// KIVRUN_OPTIONS's words: a shell's simple quoting, nothing expanded.
const SplitText kSplitTexts[] = {
    {"", std::vector<std::string>{}},
    {" \t\n", std::vector<std::string>{}},
    {" a\tb\nc  ", {{"a", "b", "c"}}},
    {R"('a "b" \c')", {{R"(a "b" \c)"}}},
    {R"("a \"b\" \\ \c 'd'")", {{R"(a "b" \ \c 'd')"}}},
    {R"(a\ b \'c \\)", {{"a b", "'c", "\\"}}},
    {R"(--x='a b'"c"d)", {{"--x=a bcd"}}},
    {R"('' "")", {{"", ""}}},
    {"$HOME ~ * `x`", {{"$HOME", "~", "*", "`x`"}}},
    {"'a", {}},
    {R"(a "b)", {}},
    {R"("a\")", {}},
    {"a\\", {}},
};

TEST(Cli, EnvironmentWordsSplitAsAShellQuotes) {
    for (const auto &split : kSplitTexts) {
        SCOPED_TRACE(split.text);
        Result<std::vector<std::string>> words = cli::split_words(split.text);
        ASSERT_EQ(words.has_value(), split.words.has_value());
        if (words) EXPECT_EQ(*words, *split.words);
        else EXPECT_TRUE(words.error() == "it ends with a backslash" || words.error().ends_with(" is not closed"));
    }
}

// The variable as kivrun reads it in a real run: quoted words, and the
// command line's --root over the variable's.
TEST(Cli, OptionsComeFromTheEnvironment) {
    TempDir directory;
    std::string options = std::string(kOptionsVariable) + "=--root /nonexistent --trace='" + directory / "a trace" +
                          "'";
    Invocation run = run_command({"/usr/bin/env", options, KIVRUN_PATH, "--root", directory.path(), kFixedHello});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "hello from kivos\n");
    EXPECT_EQ(directory.read("a trace"),
              "write(1, \"hello from kivos\\n\", 17) = 17\nexit(0) = ?\n+++ exited with 0 +++\n");
}

TEST(Cli, TraceGoesToTheNamedFile) {
    TempDir directory;
    for (auto spelling : {std::vector<std::string>{"--trace=" + directory / "trace.txt"},
                          std::vector<std::string>{"-o", directory / "trace.txt"}}) {
        spelling.insert(spelling.end(), {"--root", directory.path(), guest_program("fixed_hello")});
        Invocation run = run_kivrun(spelling);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "hello from kivos\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(directory.read("trace.txt"),
                  "write(1, \"hello from kivos\\n\", 17) = 17\nexit(0) = ?\n+++ exited with 0 +++\n");
    }
}

struct TraceForm {
    const char *name;
    std::vector<std::string> options;
    std::string trace;  // a regular expression for all of standard error
    int status = 0;
    std::string out = "hello from kivos\n";
};

const char kTime[] = R"(\d\d:\d\d:\d\d\.\d{6} )";
const char kEpochTime[] = R"(\d{10}\.\d{6} )";
const char kOnlyExit[] = R"(exit\(0\) = \?\n\+\+\+ exited with 0 \+\+\+\n)";
const std::string kSummaryRule = R"(-{6} -{11} -{11} -{9} -{9} -{16}\n)";

// -t takes no value, so the program follows it; the rest shape the lines.
const TraceForm kTraceForms[] = {
    {"t", {"-t"}, R"(write\(1, "hello from kivos\\n", 17\) = 17\nexit\(0\) = \?\n\+\+\+ exited with 0 \+\+\+\n)"},
    {"tt", {"-tt"}, std::string(kTime) + "write.*\n" + kTime + "exit.*\n" + kTime + "\\+\\+\\+ exited.*\n"},
    {"ttt",
     {"-ttt"},
     std::string(kEpochTime) + "write.*\n" + kEpochTime + "exit.*\n" + kEpochTime + "\\+\\+\\+ exited.*\n"},
    {"only_exit", {"-t", "-e", "trace=exit"}, kOnlyExit},
    // Choosing calls turns the trace on, as in strace; -f is accepted.
    {"selection_alone", {"-e", "trace=exit"}, kOnlyExit},
    {"all_but_write", {"-f", "-e", "trace=!write"}, kOnlyExit},
    {"process_class", {"-e", "trace=%process"}, kOnlyExit},
    {"descriptor_class",
     {"-e", "trace=%desc"},
     R"(write\(1, "hello from kivos\\n", 17\) = 17\n\+\+\+ exited with 0 \+\+\+\n)"},
    {"console_class",
     {"-e", "trace=%console"},
     R"(write\(1, "hello from kivos\\n", 17\) = 17\n\+\+\+ exited with 0 \+\+\+\n)"},
    {"all", {"-e", "trace=all"}, R"(write\(1, .*\nexit\(0\) = \?\n\+\+\+ exited with 0 \+\+\+\n)"},
    {"string_limit", {"-ts", "5"}, R"(write\(1, "hello"\.\.\., 17\) = 17\n(.*\n){2})"},
    {"injected_error",
     {"-t", "-e", "inject=write:error=EIO"},
     R"(write\(1, "hello from kivos\\n", 17\) = -1 EIO \(Input/output error\) \(INJECTED\)\n(.*\n){2})",
     1,
     ""},
    {"summary",
     {"-c"},
     (R"(% time     seconds  usecs/call     calls    errors syscall\n)" + kSummaryRule +
      R"(( *\d+\.\d\d +\d+\.\d{6} +\d+ +1 +(write|exit)\n){2})" + kSummaryRule +
      R"(100\.00 +\d+\.\d{6} +\d+ +2 +total\n)")},
    {"json",
     {"--trace-format=json", "-t"},
     R"(\{"pid":(\d+),"call":"write","args":\[1,"hello from kivos\\u000a",17\],"result":17,"error":null,)"
     R"("injected":false,"time":\d+\.\d{6},"duration":\d+\.\d{6}\}\n)"
     R"(\{"pid":\1,"call":"exit","args":\[0\],"result":null,.*\}\n\{"pid":\1,"end":"exited with 0"\}\n)"},
};

TEST(Cli, TraceOptionsShapeTheTrace) {
    for (const auto &form : kTraceForms) {
        SCOPED_TRACE(form.name);
        std::vector<std::string> args = form.options;
        args.push_back(kFixedHello);
        Invocation run = run_kivrun(args);
        EXPECT_EQ(run.status, form.status);
        EXPECT_EQ(run.out, form.out);
        EXPECT_TRUE(std::regex_match(run.err, std::regex(form.trace))) << run.err;
    }
}

TEST(Cli, InjectionReachesTheCommand) {
    Invocation run = run_kivrun({"-e", "inject=nic_query:retval=1", command_program("nicsounder")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "nicsounder: probe failed\n");
}

TEST(Cli, AFifoAsProgramIsRefusedWithoutWaiting) {
    TempDir directory;
    mkfifo((directory / "fifo").c_str(), 0600);  // nobody ever writes to it
    Invocation run = run_kivrun({"--timeout", "1", directory / "fifo"}, {.time = Seconds{3}});
    EXPECT_EQ(run.status, 127);
    EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
}

// A trace output nobody reads cannot hold the run past its time limit:
// a fifo without a reader is refused at the start, and one whose reader
// never reads takes what fits, the rest dropped at the deadline.
TEST(Cli, ATraceFifoCannotOutliveTheTimeLimit) {
    TempDir directory;
    const std::string fifo = directory / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::string> kEndlessCalls = {"--timeout", "1", "-o", fifo, guest_program("fx_syscall_loop"),
                                                    "4000000000"};
    Invocation unread = run_kivrun(kEndlessCalls, {.time = Seconds{4}});
    EXPECT_EQ(unread.status, kUsage);
    EXPECT_NE(unread.err.find("cannot write the trace to '" + fifo + "': "), std::string::npos) << unread.err;

    UniqueFd reader(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));  // open, never read
    ASSERT_TRUE(reader.valid());
    Invocation stalled = run_kivrun(kEndlessCalls, {.time = Seconds{4}});
    EXPECT_EQ(stalled.status, kExitStopped) << stalled.err;
}

TEST(Cli, ClosedStandardDescriptorsAreNeverHandedOut) {
    TempDir directory;
    CommandRun run = run_command({KIVRUN_PATH, "--trace=" + directory / "trace.txt", "--root", directory.path(),
                                  guest_program("fx_fs"), "create", "f.txt"},
                                 {.closed = true});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(directory.read("f.txt"), "new");
    EXPECT_NE(directory.read("trace.txt").find("open(\"f.txt\", O_WRONLY|O_CREAT|O_TRUNC, third=0x241) = 3\n"),
              std::string::npos)
        << directory.read("trace.txt");
}

TEST(Cli, AConsoleWithoutReaderFailsTheWritesOnly) {
    TempDir directory;
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    CommandRun run = run_command({KIVRUN_PATH, "--trace=" + directory / "trace.txt", command_program("nicsounder")},
                                 {.out = ends[1]});
    close(ends[1]);
    EXPECT_EQ(run.status, 0);
    std::string trace = directory.read("trace.txt");
    EXPECT_NE(trace.find(") = -1 EPIPE"), std::string::npos) << trace;
    EXPECT_NE(trace.find("exit(0) = ?"), std::string::npos) << trace;
}

TEST(Cli, FaultReportGoesToStandardError) {
    Invocation run = run_kivrun({guest_program("fx_fault"), "hlt"});
    EXPECT_EQ(run.status, 139);
    EXPECT_NE(run.err.find("general protection fault"), std::string::npos);
    EXPECT_EQ(line_count(run.err), 1u);
}

// The help names the classes in its own words: a class added to the table
// must be added there (and so to the README and the manual page) too.
TEST(CallClassNames, AreAllInTheHelp) {
    CommandRun run = run_kivrun({"--help"});
    for (const char *name : kCallClassNames) EXPECT_NE(run.out.find(name), std::string::npos) << name;
}

}  // namespace
}  // namespace kiv::test
