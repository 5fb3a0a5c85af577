#pragma once
// Everything the two buffer grids and the byte editors show or accept, without a window.
// Grid coordinates: row 0 is the header row, column 0 the address column, columns 1-16 the
// data cells and column 17 the ASCII column.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Memory.h"
#include "common/Messages.h"
#include "common/Method.h"

namespace tondrel {

enum class GridMode { Byte, Word };

inline constexpr int GridColumnCount = 18;
inline constexpr int GridAsciiColumn = 17;

// The Flash grid shows words for AVR and PIC, bytes for the AT89S chips; EEPROM always bytes.
GridMode FlashGridMode(Method method);
int BytesPerRow(GridMode mode);

// Data rows needed to show the whole buffer; a partly filled last row counts (the PIC buffer
// ends with the half row of ID and configuration words).
int32_t DataRowCount(size_t bufferSize, GridMode mode);
// Including the header row.
inline int32_t GridRowCount(size_t bufferSize, GridMode mode) {
    return DataRowCount(bufferSize, mode) + 1;
}

std::string HeaderText(int column);
int ColumnWidth(int column, GridMode mode);
// Hex digits of row - 1 (at least three, upper case) followed by "0"; row counts from 1.
std::string RowHeader(int32_t row);

// Text of data cell (row >= 1, column 1-16); empty beyond the buffer's end.
std::string CellText(const std::vector<uint8_t>& buffer, GridMode mode, int32_t row, int column);
// The row's bytes as characters, one for each byte in memory order (word mode too): printable
// ASCII (0x20-0x7E) as itself, every other byte as '.'.
std::string AsciiText(const std::vector<uint8_t>& buffer, GridMode mode, int32_t row);

// The byte (byte mode) or word index (word mode) a data cell edits; nothing for the address
// and ASCII columns, the header row and cells beyond the buffer.
std::optional<int32_t> CellPosition(size_t bufferSize, GridMode mode, int32_t row, int column);

// What an editor opened on position p starts with and how much it accepts.
std::string EditorText(const std::vector<uint8_t>& buffer, GridMode mode, int32_t position);
int EditorMaxLength(GridMode mode);
// Backspace, 0-9, A-F and a-f pass; every other key press is dropped.
bool EditorAcceptsKey(char32_t key);
std::string EditorTitle(Memory side);
std::string EditorCaption(Memory side, GridMode mode, int32_t position, Language lang);

// Stores what an accepted editor holds and returns the cell's new text. Blanks are trimmed and
// anything but hex digits ignored; byte mode: the first two digits, one digit is that value, none
// is 0; word mode: left-padded with "0" to four digits, the first two the high byte.
std::string ApplyEdit(std::vector<uint8_t>& buffer, GridMode mode, int32_t position,
                      std::string_view text);

}  // namespace tondrel
