#pragma once
// The one bilingual message table: every text the program shows is looked up here by name at
// the moment it is written, so switching the language never leaves a stale text behind.
#include <concepts>
#include <string>
#include <string_view>
#include <vector>

namespace tondrel {

enum class Language { Chinese, English };

struct MessageEntry {
    std::string_view Key;
    std::string_view Chinese;
    std::string_view English;
};

// The text for key in lang; an unknown key gives the key itself, so a missing entry shows up
// on screen instead of an empty line.
std::string Tr(std::string_view key, Language lang);
bool HasMessage(std::string_view key);
// Every entry, for checks over the whole table.
const std::vector<MessageEntry>& AllMessages();

// Replaces {0} … {9} by the arguments; a placeholder without an argument stays as it is.
std::string FormatList(std::string_view text, const std::vector<std::string>& args);

namespace detail {
inline std::string ToText(std::string_view s) {
    return std::string(s);
}
inline std::string ToText(const char* s) {
    return std::string(s);
}
inline std::string ToText(const std::string& s) {
    return s;
}
template <std::integral T>
std::string ToText(T v) {
    return std::to_string(v);
}
}  // namespace detail

template <typename... Args>
std::string Format(std::string_view text, const Args&... args) {
    return FormatList(text, {detail::ToText(args)...});
}

// Tr followed by Format.
template <typename... Args>
std::string TrFormat(std::string_view key, Language lang, const Args&... args) {
    return Format(Tr(key, lang), args...);
}

}  // namespace tondrel
