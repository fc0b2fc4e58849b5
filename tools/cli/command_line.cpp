#include "command_line.h"

#include "text.h"

#include <cstdio>
#include <cstdlib>

namespace kiv::cli {

namespace {

constexpr size_t kHelpWidth = 79;
constexpr size_t kIndent = 2;
constexpr size_t kGap = 2;

// The words of argv not yet read.
struct Words {
    int argc;
    char **argv;
    int next = 1;
};

// "-r, --root DIR" or "    --trace[=FILE]".
std::string spelling(const Option &option) {
    std::string text = option.letter != 0 ? std::string("-") + option.letter + ", " : "    ";
    text += "--" + std::string(option.name);
    if (option.takes == Takes::Value) text += " " + std::string(option.value_name);
    if (option.takes == Takes::Optional || option.takes == Takes::OptionalLongOnly) text += "[=" + std::string(option.value_name) + "]";
    return text;
}

// `text` broken between words so no line passes kHelpWidth, every line
// after the first indented to `column`.
std::string wrapped(std::string_view text, size_t column) {
    std::string out;
    size_t used = column;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find(' ', start), text.size());
        std::string_view word = text.substr(start, end - start);
        if (used > column && used + 1 + word.size() > kHelpWidth) {
            out += "\n" + std::string(column, ' ');
            used = column;
        } else if (used > column) {
            out += ' ';
            used++;
        }
        out += word;
        used += word.size();
        start = end + 1;
    }
    return out;
}

std::string help_text(const Command &command, const std::vector<Option> &options) {
    size_t width = 0;
    for (const auto &option : options) width = std::max(width, spelling(option).size());
    size_t column = kIndent + width + kGap;
    std::string text = "Usage: " + std::string(command.name) + " " + command.synopsis + "\n" + command.description +
                       "\nOptions:\n";
    for (const auto &option : options) {
        std::string left = std::string(kIndent, ' ') + spelling(option);
        text += left + std::string(column - left.size(), ' ') + wrapped(option.help, column) + "\n";
    }
    return text + "\n" + command.footer;
}

// The two rows every command has; --help lists all of `options`.
void add_standard_options(const Command &command, std::vector<Option> &options) {
    options.push_back({'h', "help", Takes::Nothing, "", "show this help and exit", "", [&](const char *) -> bool {
                           fputs(help_text(command, options).c_str(), stdout);
                           exit(EXIT_SUCCESS);
                       }});
    options.push_back({0, "version", Takes::Nothing, "", "show the version and exit", "", [&](const char *) -> bool {
                           printf("%s\n", command.version);
                           exit(EXIT_SUCCESS);
                       }});
}

const Option *find_long(const std::vector<Option> &options, std::string_view name) {
    for (const auto &option : options)
        if (name == option.name) return &option;
    return nullptr;
}

const Option *find_short(const std::vector<Option> &options, char letter) {
    for (const auto &option : options)
        if (option.letter != 0 && option.letter == letter) return &option;
    return nullptr;
}

// `typed` is the option as it stood on the command line.
void apply(const Command &command, const Option &option, const std::string &typed, const char *value) {
    if (option.apply(value)) return;
    std::string reason = option.explain ? shown(option.explain(value)) : option.expected;
    usage_error(command, "invalid value '" + shown(value != nullptr ? value : "") + "' for '" + shown(typed) + "' (" +
                             reason + ")");
}

[[noreturn]] void unknown(const Command &command, const std::string &typed) {
    usage_error(command, "unknown option '" + shown(typed) + "'");
}

const char *next_word_as_value(const Command &command, const std::string &typed, Words &words) {
    if (words.next >= words.argc) usage_error(command, "option '" + shown(typed) + "' needs a value");
    return words.argv[words.next++];
}

// `word` is "--name" or "--name=value".
void parse_long(const Command &command, const std::vector<Option> &options, std::string_view word, Words &words) {
    size_t equals = word.find('=');
    std::string typed(word.substr(0, equals));
    const Option *option = find_long(options, std::string_view(typed).substr(2));
    if (option == nullptr) unknown(command, typed);
    const char *value = equals != std::string_view::npos ? word.data() + equals + 1 : nullptr;
    if (value != nullptr && option->takes == Takes::Nothing)
        usage_error(command, "option '" + shown(typed) + "' takes no value");
    if (value == nullptr && option->takes == Takes::Value) value = next_word_as_value(command, typed, words);
    apply(command, *option, typed, value);
}

// `letters` follow a single '-': options without values, the last of them
// perhaps one with its value attached.
void parse_short(const Command &command, const std::vector<Option> &options, const char *letters, Words &words) {
    for (const char *at = letters; *at != '\0'; at++) {
        std::string typed = std::string("-") + *at;
        const Option *option = find_short(options, *at);
        if (option == nullptr) unknown(command, typed);
        if (option->takes == Takes::Nothing || option->takes == Takes::OptionalLongOnly) {
            apply(command, *option, typed, nullptr);
            continue;
        }
        const char *value = at[1] != '\0' ? at + 1 : nullptr;
        if (value == nullptr && option->takes == Takes::Value) value = next_word_as_value(command, typed, words);
        apply(command, *option, typed, value);
        return;
    }
}

}  // namespace

std::vector<std::string> parse(const Command &command, int argc, char **argv) {
    std::vector<Option> options = command.options;
    add_standard_options(command, options);
    Words words{argc, argv};
    std::vector<std::string> operands;
    while (words.next < argc) {
        std::string_view word = argv[words.next++];
        if (word == "--") break;
        if (word.starts_with("--")) {
            parse_long(command, options, word, words);
        } else if (word.size() > 1 && word[0] == '-') {
            parse_short(command, options, word.data() + 1, words);
        } else {
            operands.emplace_back(word);
            if (command.operands == Operands::EndOptions) break;
        }
    }
    operands.insert(operands.end(), argv + words.next, argv + argc);
    return operands;
}

void usage_error(const Command &command, const std::string &message) {
    fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", command.name, message.c_str(), command.name);
    exit(command.usage_status);
}

std::string shown(std::string_view text) {
    return c_escaped(std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()));
}

}  // namespace kiv::cli
