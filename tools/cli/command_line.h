// Command lines of the host tools from one table of options: the same rows
// drive parsing, the checks of each value, the help text and the usage
// errors, so none of them can say something the others do not.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::cli {

enum class Takes {
    Nothing,   // --flag; "--flag=x" is refused
    Value,     // --name VALUE, --name=VALUE, -xVALUE, -x VALUE
    Optional,  // --name[=VALUE], -x[VALUE]: only an attached value counts
    OptionalLongOnly,  // --name[=VALUE], but -x takes none: -xx is the letter twice
};

struct Option {
    char letter;             // the short form, or 0 for a long option only
    const char *name;        // the long form, without "--"
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

// Apply functions for the common rows: a flag set, a text kept as given.
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

// Applies the options of argv in order and answers the operands. Exits
// after --help or --version, and through usage_error on a mistake.
std::vector<std::string> parse(const Command &command, int argc, char **argv);

// "NAME: MESSAGE" and a pointer to --help on standard error, then exits
// with the command's usage status.
[[noreturn]] void usage_error(const Command &command, const std::string &message);

// Printable ASCII as is, every other byte as \xNN, so that text from the
// user or from a file cannot drive the terminal.
std::string shown(std::string_view text);

}  // namespace kiv::cli
