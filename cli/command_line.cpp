#include "cli/command_line.h"

#include <cstdio>
#include <cstdlib>

#include "support/text.h"

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
    if (option.takes == Takes::Optional || option.takes == Takes::OptionalLongOnly)
        text += "[=" + std::string(option.value_name) + "]";
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

// Reads one command line: the rows' apply functions run as their options
// come; the first mistake, --help or --version stops it.
class Reader {
public:
    Reader(const Command &command, int argc, char **argv, std::string_view origin)
        : command_(command), words_{argc, argv}, origin_(origin) {
        options_ = command.options;
        add_standard_options();
    }

    Reading read() {
        while (!reading_.stopped && words_.next < words_.argc) {
            std::string_view word = words_.argv[words_.next++];
            if (word == "--") break;
            if (word.starts_with("--")) {
                read_long(word);
            } else if (word.size() > 1 && word[0] == '-') {
                read_short(word.data() + 1);
            } else {
                reading_.operands.emplace_back(word);
                if (command_.operands == Operands::EndOptions) break;
            }
        }
        if (!reading_.stopped)
            reading_.operands.insert(reading_.operands.end(), words_.argv + words_.next, words_.argv + words_.argc);
        return std::move(reading_);
    }

private:
    // The two rows every command has; --help lists all of the options.
    void add_standard_options() {
        options_.push_back({'h', "help", Takes::Nothing, "", "show this help and exit", "", [this](const char *) {
                                stop(EXIT_SUCCESS, help_text(command_, options_));
                                return true;
                            }});
        options_.push_back({0, "version", Takes::Nothing, "", "show the version and exit", "", [this](const char *) {
                                stop(EXIT_SUCCESS, std::string(command_.version) + "\n");
                                return true;
                            }});
    }

    void stop(int status, std::string text) {
        reading_.stopped = true;
        reading_.status = status;
        reading_.text = std::move(text);
    }

    void mistake(const std::string &message) {
        std::string where = origin_.empty() ? "" : std::string(origin_) + ": ";
        stop(command_.usage_status, usage_text(command_.name, where + message));
    }

    // `typed` is the option as it stood on the command line.
    void apply(const Option &option, const std::string &typed, const char *value) {
        if (option.apply(value)) return;
        std::string reason = option.explain ? shown(option.explain(value)) : option.expected;
        mistake("invalid value '" + shown(value != nullptr ? value : "") + "' for '" + shown(typed) + "' (" + reason +
                ")");
    }

    void unknown(const std::string &typed) { mistake("unknown option '" + shown(typed) + "'"); }

    // nullptr (and the reading stopped) when the words are used up.
    const char *next_word_as_value(const std::string &typed) {
        if (words_.next < words_.argc) return words_.argv[words_.next++];
        mistake("option '" + shown(typed) + "' needs a value");
        return nullptr;
    }

    // `word` is "--name" or "--name=value".
    void read_long(std::string_view word) {
        size_t equals = word.find('=');
        std::string typed(word.substr(0, equals));
        const Option *option = find_long(options_, std::string_view(typed).substr(2));
        if (option == nullptr) return unknown(typed);
        const char *value = equals != std::string_view::npos ? word.data() + equals + 1 : nullptr;
        if (value != nullptr && option->takes == Takes::Nothing)
            return mistake("option '" + shown(typed) + "' takes no value");
        if (value == nullptr && option->takes == Takes::Value && (value = next_word_as_value(typed)) == nullptr) return;
        apply(*option, typed, value);
    }

    // `letters` follow a single '-': options without values, the last of
    // them perhaps one with its value attached.
    void read_short(const char *letters) {
        for (const char *at = letters; *at != '\0' && !reading_.stopped; at++) {
            std::string typed = std::string("-") + *at;
            const Option *option = find_short(options_, *at);
            if (option == nullptr) return unknown(typed);
            if (option->takes == Takes::Nothing || option->takes == Takes::OptionalLongOnly) {
                apply(*option, typed, nullptr);
                continue;
            }
            const char *value = at[1] != '\0' ? at + 1 : nullptr;
            if (value == nullptr && option->takes == Takes::Value && (value = next_word_as_value(typed)) == nullptr)
                return;
            return apply(*option, typed, value);
        }
    }

    const Command &command_;
    std::vector<Option> options_;
    Words words_;
    std::string_view origin_;
    Reading reading_;
};

constexpr std::string_view kBlanks = " \t\n";

// Splits as split_words says, one character at a time.
class WordSplitter {
public:
    Result<std::vector<std::string>> split(std::string_view text) {
        for (size_t at = 0; at < text.size(); at++) {
            char c = text[at];
            if (c == '\\' && escapes(text, at)) {
                if (++at == text.size()) return Failure{"it ends with a backslash"};
                add(text[at]);
            } else if (quote_ != 0) {
                if (c == quote_) quote_ = 0;
                else add(c);
            } else if (c == '\'' || c == '"') {
                quote_ = c;
                in_word_ = true;
            } else if (kBlanks.find(c) != std::string_view::npos) {
                end_word();
            } else {
                add(c);
            }
        }
        if (quote_ != 0) return Failure{std::string("a ") + quote_ + " is not closed"};
        end_word();
        return std::move(words_);
    }

private:
    // Whether the backslash at `at` stands for the character after it.
    bool escapes(std::string_view text, size_t at) const {
        if (quote_ == 0) return true;
        return quote_ == '"' && at + 1 < text.size() && (text[at + 1] == '"' || text[at + 1] == '\\');
    }

    void add(char c) {
        current_ += c;
        in_word_ = true;
    }

    void end_word() {
        if (in_word_) words_.push_back(std::move(current_));
        current_.clear();
        in_word_ = false;
    }

    std::vector<std::string> words_;
    std::string current_;
    bool in_word_ = false;  // a quoted empty word ('') is a word too
    char quote_ = 0;
};

}  // namespace

Reading read(const Command &command, int argc, char **argv, std::string_view origin) {
    return Reader(command, argc, argv, origin).read();
}

Result<std::vector<std::string>> split_words(std::string_view text) { return WordSplitter().split(text); }

std::vector<std::string> parse(const Command &command, int argc, char **argv) {
    Reading reading = read(command, argc, argv);
    if (!reading.stopped) return std::move(reading.operands);
    fputs(reading.text.c_str(), reading.status == EXIT_SUCCESS ? stdout : stderr);
    exit(reading.status);
}

std::string usage_text(std::string_view name, const std::string &message) {
    std::string shown_name(name);
    return shown_name + ": " + message + "\nTry '" + shown_name + " --help' for more information.\n";
}

void usage_error(const Command &command, const std::string &message) {
    fputs(usage_text(command.name, message).c_str(), stderr);
    exit(command.usage_status);
}

std::string shown(std::string_view text) {
    return c_escaped(std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()));
}

}  // namespace kiv::cli
