#include "KkmTypes.h"

#include <cmath>
#include <cstdio>

std::string TCurrency::ToShortString() const
{
    // Work on the magnitude as unsigned so that INT64_MIN has a defined form.
    const bool negative = Raw < 0;
    const std::uint64_t mag = negative ? 0 - static_cast<std::uint64_t>(Raw)
                                       : static_cast<std::uint64_t>(Raw);
    std::string text = std::to_string(mag / Scale);
    std::uint64_t frac = mag % Scale;
    if (frac != 0) {
        char digits[5];
        std::snprintf(digits, sizeof digits, "%04llu", static_cast<unsigned long long>(frac));
        std::string f(digits);
        while (!f.empty() && f.back() == '0')
            f.pop_back();
        text += '.';
        text += f;
    }
    return negative ? "-" + text : text;
}

bool TCurrency::TryParse(const std::string& text, TCurrency& out)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    std::uint64_t whole = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        whole = whole * 10 + static_cast<unsigned>(text[i] - '0');
        if (whole > static_cast<std::uint64_t>(INT64_MAX / Scale))
            return false;
    }
    std::int64_t frac = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        std::int64_t weight = Scale / 10;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
            if (weight == 0)
                return false;
            frac += (text[i] - '0') * weight;
            weight /= 10;
        }
    }
    if (digits == 0 || i != text.size())
        return false;
    // The whole part alone may sit at the limit; with the fraction the
    // magnitude can pass it, so it is checked as a whole, unsigned.
    const std::uint64_t magnitude = whole * Scale + static_cast<std::uint64_t>(frac);
    const std::uint64_t limit = static_cast<std::uint64_t>(INT64_MAX) + (negative ? 1 : 0);
    if (magnitude > limit)
        return false;
    out.Raw = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
    return true;
}

namespace {

constexpr bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days from 0001-01-01 (proleptic Gregorian) to the given date.
long long DayNumber(int y, int m, int d)
{
    long long n = 0;
    const int py = y - 1;
    n += 365LL * py + py / 4 - py / 100 + py / 400;
    for (int i = 1; i < m; ++i)
        n += DaysInMonth(y, i);
    return n + d - 1;
}

const long long kEpoch = DayNumber(1899, 12, 30);

} // namespace

bool TDateTime::IsValidDate(int year, int month, int day)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1
        && day <= DaysInMonth(year, month);
}

bool TDateTime::IsValidTime(int hour, int minute, int second, int msec)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60
        && msec >= 0 && msec < 1000;
}

bool TDateTime::TryEncodeDate(int year, int month, int day, TDateTime& out)
{
    if (!IsValidDate(year, month, day))
        return false;
    out.Value = static_cast<double>(DayNumber(year, month, day) - kEpoch);
    return true;
}

bool TDateTime::TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out)
{
    if (!IsValidTime(hour, minute, second, msec))
        return false;
    const long ms = ((hour * 60L + minute) * 60L + second) * 1000L + msec;
    out.Value = static_cast<double>(ms) / 86400000.0;
    return true;
}

bool TDateTime::InRange() const
{
    return std::isfinite(Value) && std::trunc(Value) >= MinDay && std::trunc(Value) <= MaxDay;
}

bool TDateTime::DecodeDate(int& year, int& month, int& day) const
{
    if (!InRange())
        return false;
    // The whole days count toward zero, as the time of day is the fraction
    // taken forward whatever the sign.
    long long n = static_cast<long long>(std::trunc(Value)) + kEpoch;
    // Walk years by 400-year cycles, then single years; dates are near 2000.
    int y = 1 + static_cast<int>(n / 146097) * 400;
    n %= 146097;
    for (;;) {
        const int len = IsLeap(y) ? 366 : 365;
        if (n < len)
            break;
        n -= len;
        ++y;
    }
    int m = 1;
    for (; m < 12 && n >= DaysInMonth(y, m); ++m)
        n -= DaysInMonth(y, m);
    year = y;
    month = m;
    day = static_cast<int>(n) + 1;
    return true;
}

bool TDateTime::DecodeTime(int& hour, int& minute, int& second, int& msec) const
{
    if (!InRange())
        return false;
    const double frac = std::fabs(Value - std::trunc(Value));
    long ms = std::lround(frac * 86400000.0);
    if (ms >= 86400000L)
        ms = 86400000L - 1;
    hour = static_cast<int>(ms / 3600000L);
    minute = static_cast<int>(ms / 60000L % 60);
    second = static_cast<int>(ms / 1000L % 60);
    msec = static_cast<int>(ms % 1000L);
    return true;
}

std::string TDateTime::DateString() const
{
    int y, m, d;
    if (!DecodeDate(y, m, d))
        return {};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d, m, y);
    return buf;
}

std::string TDateTime::TimeString() const
{
    int h, mi, s, ms;
    if (!DecodeTime(h, mi, s, ms))
        return {};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, mi, s);
    return buf;
}
