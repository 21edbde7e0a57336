#include "dbclient/DbDateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "dbclient/DbStrings.h"

namespace dbclient {

namespace {

constexpr double kMsecPerDay = 86400000.0;

// Days from 1899-12-30 to 1970-01-01.
constexpr int kUnixEpochOffset = 25569;

bool ReadNumber(std::string_view s, int& out) {
    long long v = 0;
    if (s.empty() || !TryStrToInt64(s, v) || v < 0 || v > 1000000) return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

std::optional<TDateTime> EncodeDate(int year, int month, int day) {
    using namespace std::chrono;
    if (year < 1 || year > 9999) return std::nullopt;
    const year_month_day ymd{std::chrono::year(year),
                             std::chrono::month(static_cast<unsigned>(month)),
                             std::chrono::day(static_cast<unsigned>(day))};
    if (month < 1 || month > 12 || day < 1 || !ymd.ok()) return std::nullopt;
    return static_cast<double>(sys_days(ymd).time_since_epoch().count() + kUnixEpochOffset);
}

std::optional<TDateTime> EncodeTime(int hour, int minute, int second, int msec) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999)
        return std::nullopt;
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMsecPerDay;
}

TDateTime CombineDateTime(TDateTime date, TDateTime time) {
    return date < 0 ? date - time : date + time;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
    using namespace std::chrono;
    // Outside years 1 to 9999 (and for NaN) there is no calendar date to show.
    if (!(std::fabs(value) < 2958466.0)) value = 0;
    // Whole milliseconds, rounded, so that 08:30:00 does not read back as 08:29:59.
    const long long totalMs = std::llround(value * kMsecPerDay);
    long long days = totalMs / 86400000LL;
    long long msOfDay = totalMs % 86400000LL;
    if (msOfDay < 0) {
        // Negative values count whole days backwards and the fraction forwards.
        msOfDay = -msOfDay;
    }
    const year_month_day ymd{sys_days(std::chrono::days(days - kUnixEpochOffset))};
    TDateTimeParts p;
    p.year = static_cast<int>(ymd.year());
    p.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    p.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    const long long secs = msOfDay / 1000;
    p.hour = static_cast<int>(secs / 3600);
    p.minute = static_cast<int>(secs / 60 % 60);
    p.second = static_cast<int>(secs % 60);
    return p;
}

std::string DateToText(TDateTime value) {
    const TDateTimeParts p = DecodeDateTime(value);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
    return buf;
}

std::string TimeToText(TDateTime value) {
    // A time value may span more than a day or be negative (MySQL TIME is a duration).
    if (!(std::fabs(value) < 1e9)) value = 0;
    const long long totalSec = std::llround(std::fabs(value) * 86400.0);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%02lld:%02lld:%02lld", value < 0 ? "-" : "", totalSec / 3600,
                  totalSec / 60 % 60, totalSec % 60);
    return buf;
}

std::string DateTimeToText(TDateTime value) {
    const TDateTimeParts p = DecodeDateTime(value);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
    return buf;
}

std::optional<TDateTime> TextToDateTime(std::string_view text) {
    text = Trim(text);
    std::optional<TDateTime> date = 0.0;
    std::optional<TDateTime> time = 0.0;
    std::string_view datePart, timePart;
    if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
        datePart = text.substr(0, 10);
        if (text.size() > 10) {
            if (text[10] != ' ' && text[10] != 'T') return std::nullopt;
            timePart = Trim(text.substr(11));
        }
    } else {
        timePart = text;
    }
    if (!datePart.empty()) {
        int y, m, d;
        if (!ReadNumber(datePart.substr(0, 4), y) || !ReadNumber(datePart.substr(5, 2), m) ||
            !ReadNumber(datePart.substr(8, 2), d))
            return std::nullopt;
        date = EncodeDate(y, m, d);
    }
    if (!timePart.empty()) {
        int h, n, s = 0;
        if (timePart.size() < 5 || timePart[2] != ':' || !ReadNumber(timePart.substr(0, 2), h) ||
            !ReadNumber(timePart.substr(3, 2), n))
            return std::nullopt;
        if (timePart.size() > 5) {
            if (timePart.size() != 8 || timePart[5] != ':' || !ReadNumber(timePart.substr(6, 2), s))
                return std::nullopt;
        }
        time = EncodeTime(h, n, s);
    } else if (datePart.empty()) {
        return std::nullopt;
    }
    if (!date || !time) return std::nullopt;
    return CombineDateTime(*date, *time);
}

}  // namespace dbclient
