#include "records/RecordTime.h"

#include <cstdint>

#include "platform/Helpers.h"

namespace zembra {

namespace {

// The text being read, one field at a time.
class Reader {
  public:
    explicit Reader(const std::string& text) : text_(text) {}
    bool AtEnd() const { return pos_ == text_.size(); }
    bool Take(char c) {
        if (AtEnd() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    // minDigits to maxDigits decimal digits; -1 when there are fewer or more.
    long long Number(std::size_t minDigits, std::size_t maxDigits, std::size_t* count = nullptr) {
        long long value = 0;
        std::size_t n = 0;
        while (!AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            if (++n > maxDigits) return -1;
            value = value * 10 + (text_[pos_++] - '0');
        }
        if (count) *count = n;
        return n < minDigits ? -1 : value;
    }

  private:
    const std::string& text_;
    std::size_t pos_ = 0;
};

bool IsLeap(long long year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(long long year, long long month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
long long DaysFromCivil(long long y, long long m, long long d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, long long& y, long long& m, long long& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp + (mp < 10 ? 3 : -9);
    y = yoe + era * 400 + (m <= 2);
}

// The stored form of an instant (milliseconds since 1970, UTC). Instants outside years
// 0000-9999 become texts below or above every stored one.
std::string StoredTime(long long ms) {
    const long long msPerDay = 86400000;
    const long long days = ms >= 0 ? ms / msPerDay : -((-ms + msPerDay - 1) / msPerDay);
    const long long rest = ms - days * msPerDay;
    long long y = 0, m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    if (y < 0) return "-";
    if (y > 9999) return "~";
    return FormatText("%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", y, m, d, rest / 3600000,
                      rest / 60000 % 60, rest / 1000 % 60, rest % 1000);
}

}  // namespace

std::optional<std::string> RecordTimeBound(const std::string& text, TimeBound which) {
    Reader in(text);
    long long year = in.Number(4, 4);
    if (year < 0) return std::nullopt;
    long long month = 1, day = 1, hour = 0, minute = 0, second = 0, ms = 0;
    // The period written: its length in milliseconds, or months (for a year or a month).
    long long periodMonths = 12, periodMs = 0;
    if (in.Take('-')) {
        month = in.Number(1, 2);
        if (month < 1 || month > 12) return std::nullopt;
        periodMonths = 1;
        if (in.Take('-')) {
            day = in.Number(1, 2);
            if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
            periodMonths = 0;
            periodMs = 86400000;
            if (in.Take('T') || in.Take(' ')) {
                hour = in.Number(1, 2);
                if (hour < 0 || hour > 23) return std::nullopt;
                periodMs = 3600000;
                if (in.Take(':')) {
                    minute = in.Number(2, 2);
                    if (minute < 0 || minute > 59) return std::nullopt;
                    periodMs = 60000;
                    if (in.Take(':')) {
                        second = in.Number(2, 2);
                        if (second < 0 || second > 59) return std::nullopt;
                        periodMs = 1000;
                        if (in.Take('.')) {
                            std::size_t digits = 0;
                            ms = in.Number(1, 3, &digits);
                            if (ms < 0) return std::nullopt;
                            for (std::size_t k = digits; k < 3; ++k) ms *= 10;
                            periodMs = digits == 1 ? 100 : digits == 2 ? 10 : 1;
                        }
                    }
                }
            }
        }
    }
    // The time zone: UTC unless one is written (only after a time or a day).
    long long offsetMinutes = 0;
    if (!in.Take('Z') && !in.AtEnd()) {
        const bool plus = in.Take('+');
        if (!plus && !in.Take('-')) return std::nullopt;
        std::size_t digits = 0;
        const long long hours = in.Number(2, 4, &digits);
        if (hours < 0 || digits == 3) return std::nullopt;
        long long zoneHours = hours, zoneMinutes = 0;
        if (digits == 4) {
            zoneHours = hours / 100;
            zoneMinutes = hours % 100;
        } else if (in.Take(':')) {
            zoneMinutes = in.Number(2, 2);
        }
        if (zoneHours > 14 || zoneMinutes < 0 || zoneMinutes > 59) return std::nullopt;
        offsetMinutes = (plus ? 1 : -1) * (zoneHours * 60 + zoneMinutes);
    }
    if (!in.AtEnd() || (periodMonths > 0 && offsetMinutes != 0)) return std::nullopt;

    if (which == TimeBound::Until) {
        if (periodMonths > 0) {
            month += periodMonths;
            if (month > 12) {
                month -= 12;
                ++year;
            }
        } else {
            ms += periodMs;
        }
    }
    const long long instant = DaysFromCivil(year, month, day) * 86400000 + hour * 3600000 +
                              minute * 60000 + second * 1000 + ms - offsetMinutes * 60000;
    return StoredTime(instant);
}

std::optional<long long> RecordTimeHour(const std::string& time) {
    Reader in(time);
    const long long year = in.Number(4, 4);
    if (year < 0 || !in.Take('-')) return std::nullopt;
    const long long month = in.Number(2, 2);
    if (month < 1 || month > 12 || !in.Take('-')) return std::nullopt;
    const long long day = in.Number(2, 2);
    if (day < 1 || day > DaysInMonth(year, month) || !in.Take('T')) return std::nullopt;
    const long long hour = in.Number(2, 2);
    if (hour < 0 || hour > 23 || !in.Take(':')) return std::nullopt;
    const long long minute = in.Number(2, 2);
    if (minute < 0 || minute > 59 || !in.Take(':')) return std::nullopt;
    const long long second = in.Number(2, 2);
    if (second < 0 || second > 60) return std::nullopt;  // 60: a leap second
    if (in.Take('.') && in.Number(1, 9) < 0) return std::nullopt;
    if (!in.Take('Z') || !in.AtEnd()) return std::nullopt;
    return DaysFromCivil(year, month, day) * 24 + hour;
}

bool IsRecordTime(const std::string& time) {
    return RecordTimeHour(time).has_value();
}

std::string HourText(long long hour) {
    const long long days = hour >= 0 ? hour / 24 : -((-hour + 23) / 24);
    long long y = 0, m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    return FormatText("%04lld-%02lld-%02lldT%02lld", y, m, d, hour - days * 24);
}

}  // namespace zembra
