#pragma once
// The configuration operations for the command line: each takes an opened ConfigForm, acts as
// the matching clicks in the dialog would, and says plainly when a request does not fit the
// layout. The CLI only parses its arguments and calls these.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Status.h"
#include "config/AvrFields.h"
#include "config/ConfigForm.h"

namespace tondrel::config {

// The layout and its current state: each group by component name and caption, its byte as the
// chip holds it ("low fuse 0x62") and its fields as NAME=value (meaning) with the boxes they
// stand on; each box with name, caption and state (on = ticked), in the layout's order; radio
// buttons, user ID boxes.
std::string DescribeForm(const ConfigForm& form);

// The fields of the chip that a group's byte holds (an AVR's; none for the other families).
std::vector<AvrField> FieldsOfGroup(const ConfigForm& form, const GroupDesc& group);
// The field's value in what the group would write now, as its boxes stand.
uint8_t FieldCode(const ConfigForm& form, const GroupDesc& group, const AvrField& field);
// Sets the boxes under `field` to `code`, as clicks would; nothing is written. False, with no box
// changed, when the value needs a box the user cannot change (disabled, or no box at all).
bool ChooseFieldValue(ConfigForm& form, const GroupDesc& group, const AvrField& field,
                      uint8_t code);

// `config set NAME=VALUE ...`: a field in binary digits of its width (CKSEL=0010, EESAVE=0), a
// whole byte in hexadecimal (lfuse=0xE2, hfuse, efuse, lock), or a box by its name as `config
// write` takes it (FL1=on). Every setting is checked before anything is sent; then each byte
// that changes is written (with its questions) and read back.
Status SetFields(ConfigForm& form, const std::vector<std::string>& settings);

// A user ID's number as `config userid` takes it: 0..3, or 0x2000..0x2003.
std::optional<unsigned> ParseUserIdIndex(std::string_view text);
// The settings name one name twice (a usage error): the name, or nothing.
std::optional<std::string> RepeatedName(const std::vector<std::string>& settings);

// `config write GROUP BOX=on|off ...`: sets the named boxes as clicks would (boxes not named keep
// what was read), then runs the group's write. A box that cannot change (disabled) or an unknown
// name fails before anything is sent.
Status WriteGroupSettings(ConfigForm& form, const std::string& group,
                          const std::vector<std::string>& settings);

// `config mode N`: selects protection mode N (1-based) and applies it.
Status ApplyLockMode(ConfigForm& form, int mode);

// `config calibration`: reads the calibration bytes; `text` gets what the dialog shows.
Status ReadCalibrationBytes(ConfigForm& form, Message& text);

// `config userid N WORD`: N is 0..3 (or 0x2000..0x2003); WORD up to four hexadecimal digits.
// The other three user IDs are written as read.
Status WriteUserId(ConfigForm& form, const std::string& index, const std::string& word);

// `config word WORD`: ticks the configuration boxes whose bits are 0 in WORD and writes. Fails
// without writing when WORD has a 0 where the layout has no box (or pairs differ on CP1/CP0).
Status WriteConfigWord(ConfigForm& form, const std::string& word);

// `config erase`: the PIC full erase.
Status EraseAll(ConfigForm& form);

// Configuration bytes a program file carries for an AVR (avr-gcc's .fuse section: low, high,
// extended as the chip has them; its .lock section), and the chip the file names ("" for none).
struct FileConfig {
    std::vector<uint8_t> Fuses;
    std::optional<uint8_t> Lock;
    std::string Device;
};

// The settings SetFields takes for them ("lfuse=0xE1", "hfuse=0x99", "lock=0xFC"). Refused when
// the file names another chip than `chip`, or its fuse bytes are not as many as the chip has.
Result<std::vector<std::string>> FileConfigSettings(std::string_view chip, const FileConfig& file);
// The bytes as the board shows them: one message a byte, its name, value and fields decoded
// ("FileConfigByte"). Bytes that do not fit the chip are shown as they are.
std::vector<Message> DescribeFileConfig(std::string_view chip, const FileConfig& file);

}  // namespace tondrel::config
