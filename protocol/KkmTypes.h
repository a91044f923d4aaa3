// Value types shared by the register protocol and the windows: byte arrays,
// the fixed-point currency value and the day-count date-time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using TArrayOfByte = std::vector<std::uint8_t>;

// Signed count of ten-thousandths. Register amounts come in hundredths and
// quantities in thousandths; both convert without rounding.
struct TCurrency {
    std::int64_t Raw = 0;

    static constexpr std::int64_t Scale = 10000;

    static constexpr TCurrency FromRaw(std::int64_t raw) { return TCurrency{raw}; }
    static constexpr TCurrency FromHundredths(std::int64_t v) { return TCurrency{v * 100}; }
    static constexpr TCurrency FromThousandths(std::int64_t v) { return TCurrency{v * 10}; }
    static constexpr TCurrency FromUnits(std::int64_t v) { return TCurrency{v * Scale}; }

    // Truncates toward zero, as the register's fields keep fewer decimals.
    constexpr std::int64_t ToThousandths() const { return Raw / 10; }

    // Shortest decimal form: "." separator, no thousands separators, no
    // trailing zeros, no point at all for a whole amount (1234.5, 100, 0.05).
    std::string ToShortString() const;

    // Accepts an optional sign, digits and at most four decimals after ".";
    // refuses what does not fit (beyond 922337203685477.5807, or below
    // -922337203685477.5808).
    static bool TryParse(const std::string& text, TCurrency& out);

    friend constexpr bool operator==(TCurrency a, TCurrency b) { return a.Raw == b.Raw; }
    friend constexpr bool operator!=(TCurrency a, TCurrency b) { return a.Raw != b.Raw; }
};

// Days since 30 December 1899; the fraction is the time of day. A negative
// value counts days back, its fraction still the time of day forward
// (-1.25 is 29 December 1899, 06:00).
struct TDateTime {
    double Value = 0.0;

    // Days of 1 January 0001 and 31 December 9999: dates outside them, and
    // values that are not numbers, have no calendar form.
    static constexpr double MinDay = -693593.0;
    static constexpr double MaxDay = 2958465.0;
    bool InRange() const;

    // Calendar checks: a date or time that does not exist is refused.
    static bool IsValidDate(int year, int month, int day);
    static bool IsValidTime(int hour, int minute, int second, int msec = 0);
    static bool TryEncodeDate(int year, int month, int day, TDateTime& out);
    static bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);

    // False, leaving the outputs alone, when the value is not InRange.
    bool DecodeDate(int& year, int& month, int& day) const;
    bool DecodeTime(int& hour, int& minute, int& second, int& msec) const;

    // dd.MM.yyyy and HH:mm:ss, the fixed formats the program shows; empty
    // when the value is not InRange.
    std::string DateString() const;
    std::string TimeString() const;

    friend bool operator==(TDateTime a, TDateTime b) { return a.Value == b.Value; }
    friend bool operator!=(TDateTime a, TDateTime b) { return a.Value != b.Value; }
};
