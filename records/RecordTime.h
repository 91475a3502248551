#pragma once

#include <optional>
#include <string>

namespace zembra {

// Which end of a period a time bound of the records filters stands for.
enum class TimeBound { Since, Until };

// Reads a date or date-time as people type it and gives the bound that the records' start
// times (UTC, "2026-12-07T13:30:05.123Z") are compared with as texts:
//   2026, 2026-12, 2026-12-7, 2026-12-07T13, 2026-12-07 13:30, ...T13:30:05, ...T13:30:05.1
// optionally followed by a time zone: "Z", "+09", "+0900" or "+09:00" (also "-"); without
// one the time is UTC. Since gives the first instant of the period written (records at or
// after it pass); Until gives the first instant after it (records before it pass), so that
// "--until 2026-12-07" takes the whole day. Empty when the text is not a valid date-time
// (2026-13-45, 2026-02-30, T24:00, T99:99, trailing text ...).
std::optional<std::string> RecordTimeBound(const std::string& text, TimeBound which);

// The hour of a stored time ("2026-12-07T11:20:33.123Z": UTC, seconds, at most nine
// digits of fraction) as hours since 1970-01-01T00Z; empty when the text is not one.
std::optional<long long> RecordTimeHour(const std::string& time);
bool IsRecordTime(const std::string& time);

// An hour since 1970 as "2026-12-07T11".
std::string HourText(long long hour);

}  // namespace zembra
