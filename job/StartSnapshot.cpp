#include "job/StartSnapshot.h"

#include <limits>

#include "platform/Helpers.h"

namespace zembra {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The time fields of the advanced panel: model field, window control, label.
struct TimeField {
    TimeText text;
    const char* field;
    const char* control;
    const char* label;
};
const TimeField kTimeFields[] = {
    {&DownloadSettings::eraseWaitSec, "eraseWaitSec", "EditEraseWaitTime",
     "삭제요청대기시간(sec):"},
    {&DownloadSettings::packetResponseWaitMs, "packetResponseWaitMs", "EditResponseWaitTime",
     "패킷CMD응답대기시간(ms):"},
    {&DownloadSettings::cmdGapMs, "cmdGapMs", "EditCmd2CmdWaitTime", "CMD사이의대기시간(ms):"},
    {&DownloadSettings::normalResponseWaitMs, "normalResponseWaitMs", "EditNormalCMDWaitTime",
     "일반CMD응답대기시간(ms):"},
    {&DownloadSettings::multiEraseExcessSec, "multiEraseExcessSec", "EditMultiEraseMeanTime",
     "멀티시삭제시간의초과(sec):"},
};

// Converts one field; on failure fills result.error (the first failure wins).
int Convert(TimeText text, const DownloadSettings& settings, StartSnapshotResult& result) {
    if (result.error) return 0;
    std::optional<std::int32_t> value = StrictDecimal(settings.*text);
    if (value && *value >= 0) return *value;
    result.error = TimeTextError(text, settings, value.has_value());
    return 0;
}

}  // namespace

ConversionError TimeTextError(TimeText text, const DownloadSettings& settings, bool negative) {
    const std::string& value = settings.*text;
    for (const TimeField& f : kTimeFields)
        if (f.text == text)
            return {f.field, f.control, f.label, value,
                    "'" + value +
                        (negative ? "' is not a valid time (it is negative)"
                                  : "' is not a valid integer value")};
    return {};
}

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
    s.eraseWaitSec = Convert(&DownloadSettings::eraseWaitSec, settings, result);
    for (int n = 1; n <= 6; ++n) s.address[FontSlot(n)] = ParseNumber(job[FontSlot(n)].addressText);
    s.change = job.change;
    s.packetResponseWaitMs = Convert(&DownloadSettings::packetResponseWaitMs, settings, result);
    if (s.packetResponseWaitMs == 0) s.packetResponseWaitMs = 10000;
    s.cmdGapMs = Convert(&DownloadSettings::cmdGapMs, settings, result);
    if (s.cmdGapMs == 0) s.cmdGapMs = 200;
    s.normalResponseWaitMs = Convert(&DownloadSettings::normalResponseWaitMs, settings, result);
    if (s.normalResponseWaitMs == 0) s.normalResponseWaitMs = 500;
    if (kind == StartKind::Multi) {
        s.multiEraseExcessSec = Convert(&DownloadSettings::multiEraseExcessSec, settings, result);
        if (s.multiEraseExcessSec == 0) s.multiEraseExcessSec = 300;
    }
    s.checkBinSize64K = settings.checkBinSize64K;
    s.linkProtocol = MakeLinkProtocolCode(link, settings);
    return result;
}

}  // namespace zembra
