// Command lines of the host tools from one table of options: the same rows
// drive parsing, the checks of each value, the help text and the usage
// errors, so none of them can say something the others do not.
#pragma once

#include <concepts>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/number.h"
#include "support/result.h"

namespace kiv::cli {

enum class Takes {
    Nothing,           // --flag; "--flag=x" is refused
    Value,             // --name VALUE, --name=VALUE, -xVALUE, -x VALUE
    Optional,          // --name[=VALUE], -x[VALUE]: only an attached value counts
    OptionalLongOnly,  // --name[=VALUE], but -x takes none: -xx is the letter twice
};

struct Option {
    char letter;       // the short form, or 0 for a long option only
    const char *name;  // the long form, without "--"
    Takes takes;
    const char *value_name;  // "DIR", "N"; unused for Takes::Nothing
    std::string help;        // one sentence for --help, wrapped there
    std::string expected;    // what a valid value is, quoted when one is refused
    // Takes the value (nullptr when there is none) and answers whether it is
    // acceptable.
    std::function<bool(const char *value)> apply;
    // What is wrong with a refused value, when that says more than
    // `expected` (the part of a compound value that is wrong); unset: expected.
    std::function<std::string(const char *value)> explain = {};
};

enum class Operands {
    EndOptions,  // the first operand and everything after it are operands
    Anywhere,    // options and operands mix
};

struct Command {
    const char *name;
    const char *synopsis;     // "Usage: NAME " and then this
    const char *description;  // between the usage line and the options
    const char *footer;       // after the options: exit statuses and the like
    const char *version;      // what --version prints
    int usage_status;         // the exit status after a usage error
    Operands operands;
    std::vector<Option> options;  // -h/--help and --version come with every command
};

// Apply functions for the common rows: a flag set, a text kept as given,
// what a parser answers, a number in the one grammar.
inline auto set_flag(bool &target) {
    return [&target](const char *) {
        target = true;
        return true;
    };
}

inline auto store_text(std::string &target) {
    return [&target](const char *value) {
        target = value;
        return true;
    };
}

// `parse` takes the text and answers a Result; the target is left alone
// when it refuses.
template <class Target, class Parse> auto store_parsed(Target &target, Parse parse) {
    return [&target, parse](const char *value) {
        auto parsed = parse(value);
        if (parsed) target = std::move(*parsed);
        return parsed.has_value();
    };
}

template <std::unsigned_integral T> auto store_number(T &target) { return store_parsed(target, parse_number<T>); }

// What reading a command line came to: the operands, or a stop after
// --help, --version or a mistake with what to print and the exit status.
struct Reading {
    std::vector<std::string> operands;
    bool stopped = false;
    std::string text;  // the help or version text (standard output), or the usage error (standard error)
    int status = 0;    // the exit status after a stop
};

// Applies the options of argv in order until the end, --help, --version or
// the first mistake; nothing is printed and the process goes on. A mistake
// names `origin` first when one is given (words that did not come from the
// command line itself).
Reading read(const Command &command, int argc, char **argv, std::string_view origin = {});

// The words of `text` as a shell splits a simple command: blanks (space,
// tab, line break) separate them; '...' keeps what it encloses as it is;
// "..." too, but for \" and \\ standing for " and \; elsewhere a
// backslash keeps the character after it. Nothing is expanded. An
// unfinished quote or a final backslash is refused, saying which.
Result<std::vector<std::string>> split_words(std::string_view text);

// The same for a program's entry: answers the operands, or prints what
// read stopped with and exits.
std::vector<std::string> parse(const Command &command, int argc, char **argv);

// "NAME: MESSAGE" and a pointer to --help, as a usage error shows.
std::string usage_text(std::string_view name, const std::string &message);

// The usage text on standard error, then exits with the command's usage
// status.
[[noreturn]] void usage_error(const Command &command, const std::string &message);

// Printable ASCII as is, every other byte as \xNN, so that text from the
// user or from a file cannot drive the terminal.
std::string shown(std::string_view text);

}  // namespace kiv::cli
