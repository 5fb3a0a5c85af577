#include "common/Messages.h"

#include "common/MessageTables.h"

#include <algorithm>

namespace tondrel {

namespace {

// Every area's texts as one table, put together on first use.
const std::vector<MessageEntry>& Table() {
    static const std::vector<MessageEntry> all = [] {
        std::vector<MessageEntry> v;
        for (const auto* part : {&DataMessageTable(), &CoreMessageTable(), &ConfigMessageTable(),
                                 &GuiMessageTable()})
            v.insert(v.end(), part->begin(), part->end());
        return v;
    }();
    return all;
}

const MessageEntry* Find(std::string_view key) {
    auto it = std::find_if(Table().begin(), Table().end(),
                           [key](const MessageEntry& e) { return e.Key == key; });
    return it == Table().end() ? nullptr : &*it;
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
    return Table();
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
