#pragma once
// One way to fail. A Status is either fine or names what went wrong as a message key with its
// arguments (a path, a line number, an errno text); Result<T> carries a value or such a Status.
// Nothing below the edge makes text: the session, the window and the terminal turn a Message
// into words of the current language when they show it, and tests compare keys and arguments.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/Messages.h"

namespace tondrel {

// A text of the message table, named by its key, with the values for its placeholders.
struct Message {
    std::string Key;
    std::vector<std::string> Args;

    bool operator==(const Message&) const = default;
    bool Empty() const { return Key.empty(); }
    // The words in `lang`: the table's text with {0}, {1}, ... replaced. An empty message is the
    // empty line of the message board.
    std::string Text(Language lang) const;
};

// Builds a Message from any mix of texts and integers.
template <typename... Args>
Message Msg(std::string_view key, const Args&... args) {
    return Message{std::string(key), {detail::ToText(args)...}};
}

// Text that comes from outside the message table and is shown as it stands (a stored support
// text, an external tool's own words).
inline constexpr std::string_view kVerbatimKey = "Verbatim";
inline Message Verbatim(std::string text) {
    return Message{std::string(kVerbatimKey), {std::move(text)}};
}

class [[nodiscard]] Status {
  public:
    Status() = default;                                  // fine
    Status(Message error) : error_(std::move(error)) {}  // NOLINT: a Message is a failure

    template <typename... Args>
    static Status Error(std::string_view key, const Args&... args) {
        return Status(Msg(key, args...));
    }

    bool Ok() const { return !error_.has_value(); }
    explicit operator bool() const { return Ok(); }
    // What went wrong; an empty message when the status is fine.
    const Message& Error() const {
        static const Message none;
        return error_ ? *error_ : none;
    }
    const std::string& Key() const { return Error().Key; }
    std::string Text(Language lang) const { return Error().Text(lang); }

    bool operator==(const Status&) const = default;

  private:
    std::optional<Message> error_;
};

template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}  // NOLINT: a value is a success
    // A failure; a fine Status here is a programming error and reads as an unnamed failure.
    Result(Status failure) : status_(failure.Ok() ? Status::Error("Failed") : std::move(failure)) {}
    Result(Message failure) : Result(Status(std::move(failure))) {}

    bool Ok() const { return value_.has_value(); }
    explicit operator bool() const { return Ok(); }
    const Status& GetStatus() const { return status_; }
    const Message& Error() const { return status_.Error(); }

    const T& Value() const& { return *value_; }
    T& Value() & { return *value_; }
    T&& Value() && { return std::move(*value_); }
    const T& operator*() const& { return *value_; }
    T& operator*() & { return *value_; }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }
    T ValueOr(T fallback) const { return value_ ? *value_ : std::move(fallback); }

  private:
    std::optional<T> value_;
    Status status_;
};

}  // namespace tondrel
