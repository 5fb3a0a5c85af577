#include "data/GridText.h"

#include "common/Text.h"

namespace tondrel {

namespace {

std::string HexByte(uint8_t b) {
    return HexText(b);
}

char Shown(uint8_t b) {
    return b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
}

}  // namespace

GridMode FlashGridMode(Method method) {
    return IsWordAddressed(method) ? GridMode::Word : GridMode::Byte;
}

int BytesPerRow(GridMode mode) {
    return mode == GridMode::Byte ? 16 : 32;
}

int32_t DataRowCount(size_t bufferSize, GridMode mode) {
    const auto per = static_cast<size_t>(BytesPerRow(mode));
    return static_cast<int32_t>((bufferSize + per - 1) / per);
}

std::string HeaderText(int column) {
    if (column >= 1 && column <= 16) return HexText(static_cast<uint64_t>(column - 1), 1);
    if (column == GridAsciiColumn) return "ASCII";
    return {};
}

int ColumnWidth(int column, GridMode mode) {
    if (column == 0) return 45;
    if (column == GridAsciiColumn) return 150;
    return mode == GridMode::Byte ? 20 : 30;
}

std::string RowHeader(int32_t row) {
    return HexText(static_cast<unsigned>(row - 1), 3) + "0";
}

std::optional<int32_t> CellPosition(size_t bufferSize, GridMode mode, int32_t row, int column) {
    if (row < 1 || column < 1 || column > 16) return std::nullopt;
    const int64_t p = 16 * (static_cast<int64_t>(row) - 1) + (column - 1);
    const int64_t lastByte = mode == GridMode::Byte ? p : 2 * p + 1;
    if (lastByte >= static_cast<int64_t>(bufferSize)) return std::nullopt;
    return static_cast<int32_t>(p);
}

std::string EditorText(const std::vector<uint8_t>& buffer, GridMode mode, int32_t position) {
    const auto p = static_cast<size_t>(position);
    if (mode == GridMode::Byte) return HexByte(buffer[p]);
    return HexByte(buffer[2 * p + 1]) + HexByte(buffer[2 * p]);
}

std::string CellText(const std::vector<uint8_t>& buffer, GridMode mode, int32_t row, int column) {
    const std::optional<int32_t> p = CellPosition(buffer.size(), mode, row, column);
    return p ? EditorText(buffer, mode, *p) : std::string();
}

std::string AsciiText(const std::vector<uint8_t>& buffer, GridMode mode, int32_t row) {
    std::string out;
    for (int column = 1; column <= 16; ++column) {
        const std::optional<int32_t> p = CellPosition(buffer.size(), mode, row, column);
        if (!p) break;
        const auto i = static_cast<size_t>(*p);
        // In memory order, as a string stored in Flash reads, also when the cells show words.
        if (mode == GridMode::Byte) {
            out += Shown(buffer[i]);
        } else {
            out += Shown(buffer[2 * i]);
            out += Shown(buffer[2 * i + 1]);
        }
    }
    return out;
}

int EditorMaxLength(GridMode mode) {
    return mode == GridMode::Byte ? 2 : 4;
}

bool EditorAcceptsKey(char32_t key) {
    return key == U'\b' || (key < 0x80 && HexDigit(static_cast<char>(key)) >= 0);
}

std::string EditorTitle(Memory side) {
    // The design caption carries both languages.
    return Tr(side == Memory::Flash ? "ModifyFlashDataTitle" : "ModifyEEPROMDataTitle",
              Language::Chinese);
}

std::string EditorCaption(Memory side, GridMode mode, int32_t position, Language lang) {
    (void)mode;  // the position already is a byte address or a word index
    return TrFormat(side == Memory::Flash ? "ModifyFlashDataAt" : "ModifyEEPROMDataAt", lang,
                    HexText(static_cast<unsigned>(position)));
}

std::string ApplyEdit(std::vector<uint8_t>& buffer, GridMode mode, int32_t position,
                      std::string_view text) {
    std::string digits;
    for (char c : text)
        if (HexDigit(c) >= 0) digits += c;
    const auto p = static_cast<size_t>(position);
    // Only hex digits are left, so the one failure of the parse is an empty text: 0.
    auto value = [&](size_t count) {
        return ParseNumber(std::string_view(digits).substr(0, count), NumberStyle::Hex).value_or(0);
    };
    if (mode == GridMode::Byte) {
        buffer[p] = static_cast<uint8_t>(value(2));
    } else {
        const auto word = static_cast<uint16_t>(value(4));
        buffer[2 * p + 1] = static_cast<uint8_t>(word >> 8);
        buffer[2 * p] = static_cast<uint8_t>(word & 0xFF);
    }
    return EditorText(buffer, mode, position);
}

}  // namespace tondrel
