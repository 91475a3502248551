#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"

namespace zembra {

// Which Start takes the snapshot. Only the multi Start converts multiEraseExcessSec.
enum class StartKind { Single, Multi };

// The values a download uses, read once at Start.
struct StartSnapshot {
    bool showInvalidFcsNak = false;
    int eraseWaitSec = 0;                                   // seconds; 0 stays 0
    std::array<std::uint32_t, ImageSlot::Count> address{};  // by slot; [Code] is always 0
    bool change = false;
    int packetResponseWaitMs = 10000;  // 0 -> 10000
    int cmdGapMs = 200;                // 0 -> 200
    int normalResponseWaitMs = 500;    // 0 -> 500
    int multiEraseExcessSec = 0;       // multi: 0 -> 300; single: not taken (0)
    bool checkBinSize64K = true;
    LinkProtocolCode linkProtocol = INITIAL_LINK_PROTOCOL;
};

// A settings text that is not a valid number. Instead of raising the toolkit's conversion
// error the snapshot returns this, naming the field.
struct ConversionError {
    std::string field;    // model field, e.g. "packetResponseWaitMs"
    std::string control;  // window control, e.g. "EditResponseWaitTime"
    std::string label;    // the field's label, e.g. "패킷CMD응답대기시간(ms):"
    std::string text;     // the offending text
    std::string message;  // e.g. "'abc' is not a valid integer value"
};

struct StartSnapshotResult {
    StartSnapshot snapshot;                // meaningful only when ok()
    std::optional<ConversionError> error;  // the first field that failed, in reading order
    bool ok() const { return !error.has_value(); }
};

// A time field of the advanced panel: the DownloadSettings member that holds its text.
using TimeText = std::string DownloadSettings::*;

// The error of a time field whose text is not a valid integer, or (negative) is a negative
// one, naming the field.
ConversionError TimeTextError(TimeText text, const DownloadSettings& settings, bool negative);

// Strict decimal conversion of a settings text: optional blanks around an optionally signed
// run of decimal digits that fits in 32 bits. Anything else (empty text, "12a", "0x10",
// "1e3", overflow) gives std::nullopt.
std::optional<std::int32_t> StrictDecimal(const std::string& text);

// Converts the time fields of the advanced panel in the order the start handler reads them
// (eraseWaitSec, packetResponseWaitMs, cmdGapMs, normalResponseWaitMs, then, for the multi
// Start, multiEraseExcessSec) and applies the zero replacements. A negative time is refused
// like a non-number: the engines sleep and wait with these values, and a negative sleep is
// an endless one on some systems.
StartSnapshotResult TakeStartSnapshot(const DownloadJob& job, const DownloadSettings& settings,
                                      Link link, StartKind kind);

}  // namespace zembra
