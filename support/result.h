// What a parser or loader answers: the value it read, or why it could not
// read one. The error is a one-line message unless the caller needs more
// (an exit status chosen by the kind of fault). std::expected would do, but
// the host compiler offers it only with C++23.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace kiv {

// The error side of a Result, so that a function answers `return
// Failure{message}` where it would answer a value.
template <class Error> struct Failure { Error error; };
template <class Error> Failure(Error) -> Failure<Error>;
Failure(const char *)->Failure<std::string>;

template <class T, class Error = std::string> class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class Other>
    requires std::is_constructible_v<Error, Other> Result(Failure<Other> failure)
        : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    // Only for a Result that holds a value.
    T &operator*() & { return std::get<0>(state_); }
    const T &operator*() const & { return std::get<0>(state_); }
    T &&operator*() && { return std::get<0>(std::move(state_)); }
    T *operator->() { return &std::get<0>(state_); }
    const T *operator->() const { return &std::get<0>(state_); }

    // Only for a Result that holds an error.
    const Error &error() const { return std::get<1>(state_); }

    T value_or(T fallback) const & { return has_value() ? **this : std::move(fallback); }

private:
    std::variant<T, Error> state_;
};

// A step that has no value to answer: done, or the reason it was not.
template <class Error> class [[nodiscard]] Result<void, Error> {
public:
    Result() = default;
    template <class Other>
    requires std::is_constructible_v<Error, Other> Result(Failure<Other> failure)
        : error_(std::move(failure.error)), failed_(true) {}

    bool has_value() const { return !failed_; }
    explicit operator bool() const { return has_value(); }
    const Error &error() const { return error_; }

private:
    Error error_{};
    bool failed_ = false;
};

}  // namespace kiv
