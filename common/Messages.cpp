#include "common/Messages.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

namespace tondrel {

namespace detail {
std::string_view MessageFiles();  // the text of common/messages/*.tsv, compiled in
}

namespace {

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

struct Table {
    std::vector<std::unique_ptr<std::string>> Texts;  // owns what the entries view
    std::vector<MessageEntry> Entries;
    std::unordered_map<std::string_view, size_t> ByKey;

    std::string_view Keep(std::string_view text) {
        Texts.push_back(std::make_unique<std::string>(Unescape(text)));
        return *Texts.back();
    }
};

// Every area's file as one table, put together on first use. A line that is not a comment and
// has fewer than three fields is skipped; the table test finds the gap it leaves.
const Table& TheTable() {
    static const Table table = [] {
        Table t;
        std::string_view rest = detail::MessageFiles();
        while (!rest.empty()) {
            const size_t end = std::min(rest.find('\n'), rest.size());
            std::string_view line = rest.substr(0, end);
            rest.remove_prefix(std::min(end + 1, rest.size()));
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (line.empty() || line.front() == '#') continue;
            const size_t tab1 = line.find('\t');
            const size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
            if (tab2 == std::string_view::npos) continue;
            MessageEntry e{t.Keep(line.substr(0, tab1)),
                           t.Keep(line.substr(tab1 + 1, tab2 - tab1 - 1)),
                           t.Keep(line.substr(tab2 + 1))};
            t.ByKey.emplace(e.Key, t.Entries.size());  // the first of two equal keys wins
            t.Entries.push_back(e);
        }
        return t;
    }();
    return table;
}

const MessageEntry* Find(std::string_view key) {
    const Table& t = TheTable();
    auto it = t.ByKey.find(key);
    return it == t.ByKey.end() ? nullptr : &t.Entries[it->second];
}

}  // namespace

std::string Tr(std::string_view key, Language lang) {
    const MessageEntry* e = Find(key);
    if (!e) return std::string(key);
    return std::string(lang == Language::Chinese ? e->Chinese : e->English);
}

bool HasMessage(std::string_view key) {
    return Find(key) != nullptr;
}

const std::vector<MessageEntry>& AllMessages() {
    return TheTable().Entries;
}

std::string FormatList(std::string_view text, const std::vector<std::string>& args) {
    std::string out;
    out.reserve(text.size() + 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9' &&
            text[i + 2] == '}') {
            size_t n = static_cast<size_t>(text[i + 1] - '0');
            if (n < args.size()) {
                out += args[n];
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

}  // namespace tondrel
