#include "job/StartSnapshot.h"

#include <limits>

#include "platform/Helpers.h"

namespace zembra {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// One time field of the advanced panel.
struct TimeField {
    const char* field;
    const char* control;
    const char* label;
    const std::string DownloadSettings::*text;
};

const TimeField kEraseWait{"eraseWaitSec", "EditEraseWaitTime",
                           "삭제요청대기시간(sec):", &DownloadSettings::eraseWaitSec};
const TimeField kPacketWait{"packetResponseWaitMs", "EditResponseWaitTime",
                            "패킷CMD응답대기시간(ms):", &DownloadSettings::packetResponseWaitMs};
const TimeField kCmdGap{"cmdGapMs", "EditCmd2CmdWaitTime",
                        "CMD사이의대기시간(ms):", &DownloadSettings::cmdGapMs};
const TimeField kNormalWait{"normalResponseWaitMs", "EditNormalCMDWaitTime",
                            "일반CMD응답대기시간(ms):", &DownloadSettings::normalResponseWaitMs};
const TimeField kMultiExcess{"multiEraseExcessSec", "EditMultiEraseMeanTime",
                             "멀티시삭제시간의초과(sec):", &DownloadSettings::multiEraseExcessSec};

// Converts one field; on failure fills result.error (the first failure wins).
int Convert(const TimeField& f, const DownloadSettings& settings, StartSnapshotResult& result) {
    if (result.error) return 0;
    const std::string& text = settings.*(f.text);
    std::optional<std::int32_t> value = StrictDecimal(text);
    if (value && *value >= 0) return *value;
    ConversionError error{f.field, f.control, f.label, text, {}};
    error.message = value ? "'" + text + "' is not a valid time (it is negative)"
                          : "'" + text + "' is not a valid integer value";
    result.error = std::move(error);
    return 0;
}

}  // namespace

std::optional<std::int32_t> StrictDecimal(const std::string& text) {
    std::size_t i = 0, end = text.size();
    while (i < end && IsBlank(text[i])) ++i;
    while (end > i && IsBlank(text[end - 1])) --end;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == end) return std::nullopt;
    std::int64_t value = 0;
    for (; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

StartSnapshotResult TakeStartSnapshot(const DownloadJob& job, const DownloadSettings& settings,
                                      Link link, StartKind kind) {
    StartSnapshotResult result;
    StartSnapshot& s = result.snapshot;
    s.showInvalidFcsNak = settings.showInvalidFcsNak;
    s.eraseWaitSec = Convert(kEraseWait, settings, result);
    for (int n = 1; n <= 6; ++n) s.address[FontSlot(n)] = ParseNumber(job[FontSlot(n)].addressText);
    s.change = job.change;
    s.packetResponseWaitMs = Convert(kPacketWait, settings, result);
    if (s.packetResponseWaitMs == 0) s.packetResponseWaitMs = 10000;
    s.cmdGapMs = Convert(kCmdGap, settings, result);
    if (s.cmdGapMs == 0) s.cmdGapMs = 200;
    s.normalResponseWaitMs = Convert(kNormalWait, settings, result);
    if (s.normalResponseWaitMs == 0) s.normalResponseWaitMs = 500;
    if (kind == StartKind::Multi) {
        s.multiEraseExcessSec = Convert(kMultiExcess, settings, result);
        if (s.multiEraseExcessSec == 0) s.multiEraseExcessSec = 300;
    }
    s.checkBinSize64K = settings.checkBinSize64K;
    s.linkProtocol = MakeLinkProtocolCode(link, settings);
    return result;
}

}  // namespace zembra
