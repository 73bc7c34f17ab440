// Failures are values: a Result holds either a value or an error.
#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

namespace util {

// An error worded for the user, carried up to whoever reports it.
struct Error {
    std::string message;
};

inline Error error(std::string message) { return Error{std::move(message)}; }

// Either a T or an E. E is Error (a finished text) for most of the program and
// std::error_code for the platform layer, whose callers word the failure.
template <class T, class E = Error>
class Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(E err) : v_(std::in_place_index<1>, std::move(err)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const E& error() const { return std::get<1>(v_); }

private:
    std::variant<T, E> v_;
};

// A result with no value: success, or an error.
template <class E = Error>
class Status {
public:
    Status() = default;
    Status(E err) : err_(std::move(err)) {}

    bool ok() const { return !err_.has_value(); }
    explicit operator bool() const { return ok(); }
    const E& error() const { return *err_; }

private:
    std::optional<E> err_;
};

// Platform results carry the operating system's error code.
template <class T>
using IoResult = Result<T, std::error_code>;
using IoStatus = Status<std::error_code>;

}  // namespace util
