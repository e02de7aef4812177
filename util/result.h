// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// How a failure's words travel back to whoever reports them. A function that can fail
// returns a Result<T>, the value or the words, or a Status, nothing or the words; the
// caller that owns the log, the message box or stderr says them. `return Failure("...")`
// fails either. A failure stays a failure even when its words are empty, and neither
// can be dropped unread.
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace orbvex {

// A failure's words, on their way into a Result or a Status.
struct Failure {
    explicit Failure(std::string words) : words(std::move(words)) {}
    std::string words;
};

class [[nodiscard]] Status {
public:
    Status() = default;  // ok
    Status(Failure failure) : failed_(true), error_(std::move(failure.words)) {}

    bool Ok() const { return !failed_; }
    explicit operator bool() const { return !failed_; }
    // Why it failed; empty when it did not.
    const std::string& Error() const { return error_; }

private:
    bool failed_ = false;
    std::string error_;
};

template <typename T>
class [[nodiscard]] Result {
public:
    // From anything that converts to T (a std::unique_ptr<Derived> for a Result<std::unique_ptr<Base>>).
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U&&, T> &&
                                                      !std::is_same_v<std::decay_t<U>, Result> &&
                                                      !std::is_same_v<std::decay_t<U>, Failure>>>
    Result(U&& value) : value_(std::in_place, std::forward<U>(value)) {}
    Result(Failure failure) : error_(std::move(failure.words)) {}

    bool Ok() const { return value_.has_value(); }
    explicit operator bool() const { return value_.has_value(); }
    // Why it failed; empty when it did not.
    const std::string& Error() const { return error_; }

    // The value; only when Ok().
    T& Value() & { return *value_; }
    const T& Value() const& { return *value_; }
    T&& Value() && { return std::move(*value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

private:
    std::optional<T> value_;
    std::string error_;
};

}  // namespace orbvex
