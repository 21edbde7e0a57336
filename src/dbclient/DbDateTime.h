// Date-time values of the dataset fields: days since 1899-12-30 as a double, the time
// of day as the fraction. Encoding, decoding and the text forms used by the fields.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dbclient {

using TDateTime = double;

// The date, or nothing when it does not exist in the calendar (years 1 to 9999).
std::optional<TDateTime> EncodeDate(int year, int month, int day);
// The time of day, or nothing when out of range (seconds up to 59, milliseconds up to 999).
std::optional<TDateTime> EncodeTime(int hour, int minute, int second, int msec = 0);

// A date plus a time of day; before 1899-12-30 the fraction counts forwards from the
// (negative) whole day, as it does after it.
TDateTime CombineDateTime(TDateTime date, TDateTime time);

struct TDateTimeParts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
TDateTimeParts DecodeDateTime(TDateTime value);

// Text forms: "yyyy-mm-dd", "hh:nn:ss" and "yyyy-mm-dd hh:nn:ss". A time value counts its
// hours in full and carries its sign ("-838:59:59").
std::string DateToText(TDateTime value);
std::string TimeToText(TDateTime value);
std::string DateTimeToText(TDateTime value);
// Reads the three forms back (a date, a time, or both separated by a blank or "T").
std::optional<TDateTime> TextToDateTime(std::string_view text);

}  // namespace dbclient
