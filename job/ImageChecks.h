#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "job/DownloadJob.h"

namespace zembra {

// Colour of a path field whose file does not match the configuration (red).
inline constexpr std::uint32_t MISMATCH_COLOUR = 0x0000FF;

// Filter and default extension of the seven image open dialogs.
inline constexpr char IMAGE_DIALOG_FILTER[] = "BIN|*.BIN|All|*.*";
inline constexpr char CODE_DIALOG_DEFAULT_EXT[] = "BIN";

// One log line: text and Windows colour value (0 black, 255 red, 0xFF0000 blue).
struct LogLine {
    std::string text;
    std::uint32_t colour = 0;
    bool operator==(const LogLine&) const = default;
};

// The code image trailer: version word at size - 20 (16 bits) and boot location at
// size - 16 (32 bits), both little-endian.
struct CodeTrailer {
    enum class Status {
        Ok,
        Unreadable,      // not a regular file this process can read (missing, a folder, a FIFO,
                         // a device, no permission)
        TooShort,        // a readable file shorter than 20 bytes: it has no trailer
        VersionInvalid,  // version 0x0000 or 0xFFFF
        BootInvalid,     // boot location 0x00000000 or 0xFFFFFFFF
    };
    Status status = Status::Unreadable;
    std::uint16_t version = 0;       // valid from VersionInvalid on
    std::uint32_t bootLocation = 0;  // valid for BootInvalid and Ok
};

// Reads and checks the trailer. Opens the file read-only, never reads outside it, closes it
// on every path. A directory, a device and an unreadable file give Unreadable, a file shorter
// than 20 bytes TooShort.
CodeTrailer ReadCodeTrailer(const std::string& path);

// The start address a font file name carries: the first "_0x" tag (any letter case) in the
// lower-case full path, then "0x" followed by the characters after the tag up to the first
// one that is not an ASCII letter or digit, at most 28 of them. std::nullopt without a tag.
std::optional<std::string> AddressFromFileName(const std::string& path);

// Leaving a font address field (EditFont1AddressExit ...): with autoHexPrefix set, a
// non-empty text that begins neither with "0x" nor "0X" gets the prefix "0x". Otherwise the
// text is returned unchanged.
std::string AddressOnExit(const std::string& text, bool autoHexPrefix);

// What is wrong with a font address text as the job check reads it. A well-formed text is
// "0x" or "0X" followed by hexadecimal digits, or decimal digits, optionally followed by
// blanks; ParseNumber would read the leading number of anything else and drop the rest.
enum class AddressTextProblem {
    None,
    Empty,       // nothing but blanks
    Negative,    // a minus sign in front
    NoDigits,    // "0x" without digits
    NotANumber,  // anything else, e.g. "0x30000z", "30000 junk", "0x40000.5"
};
AddressTextProblem CheckAddressText(const std::string& text);

// True when the slot's file agrees with the loaded configuration: always with an empty path
// or the placeholder ANY_FILE; otherwise only when expectedName is not empty and the
// upper-case path contains the upper-case expectedName (the directory part may match too).
// The window draws the path field in MISMATCH_COLOUR when this is false.
bool ExpectedNameRule(const std::string& path, const std::string& expectedName);

// The selection of a file chosen in a slot's open dialog (SelectImage after the dialog).
struct SelectionResult {
    bool selected = false;                 // false: the slot must be cleared (ClearSlot)
    std::vector<LogLine> log;              // lines to append, in order (all colour 0)
    std::string path;                      // the chosen path (also kept when refused, for the log)
    std::string fileTime;                  // FileTimeText of the path
    std::int64_t size = 0;                 // FileSizeOf of the path
    std::optional<std::uint16_t> version;  // code slot, once read
    std::optional<std::uint32_t> bootLocation;  // code slot, once read
    // Font slot whose file name carries "_0x": the new addressText. The window also moves
    // the keyboard focus to the address field, provided the field is enabled (it is
    // disabled while a configuration is loaded; the address is filled all the same).
    std::optional<std::string> addressText;
};

// Runs the checks of a selection: size log line, 64 KiB rule, code trailer or font
// address tag. Touches no model; see ApplySelection.
SelectionResult SelectImageFile(int slot, const std::string& path, bool checkBinSize64K);

// Applies a selection result to the slot: selected -> path, fileTime, selected flag and
// (fonts) the address from the file name; refused -> ClearSlot.
void ApplySelection(ImageSlot& slot, const SelectionResult& result);

}  // namespace zembra
