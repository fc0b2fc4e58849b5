// Calendar arithmetic without a clock: kivos gives a program no time of
// day, so the clock readers fail, while conversions between seconds since
// 1970 (UTC, no leap seconds) and broken-down time work. Local time is UTC.
#include "time.h"

#include <stdint.h>

#include "errno.h"
#include "stdio.h"

namespace kiv::calendar {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int kSecondsPerHour = 3600;
constexpr int kSecondsPerMinute = 60;
constexpr int kBaseYear = 1900;
constexpr int kDaysPerWeek = 7;
// 1 January 1970 was a Thursday.
constexpr int kEpochWeekday = 4;
constexpr int kAsctimeLength = 26;
constexpr int kMonthsPerYear = 12;
constexpr int kAbbreviation = 3;
constexpr int kHalfDay = 12;

constexpr const char *kWeekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char *kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

tm g_broken_down;
char g_text[kAsctimeLength];

int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// Days from 1970-01-01 to the given civil date (month 1 to 12), by the
// 400-year cycle of the Gregorian calendar counted from March.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    int64_t era = floor_div(year, 400);
    int64_t year_of_era = year - era * 400;
    int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

void civil_from_days(int64_t days, int64_t &year, int &month, int &day) {
    days += 719468;
    int64_t era = floor_div(days, 146097);
    int64_t day_of_era = days - era * 146097;
    int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    int64_t shifted_month = (5 * day_of_year + 2) / 153;
    day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    year = year_of_era + era * 400 + (month <= 2);
}

int day_of_year(int64_t year, int month, int day) {
    return static_cast<int>(days_from_civil(year, month, day) - days_from_civil(year, 1, 1));
}

bool fill_broken_down(int64_t seconds, tm &out) {
    int64_t days = floor_div(seconds, kSecondsPerDay);
    int64_t rest = seconds - days * kSecondsPerDay;
    int64_t year;
    int month, day;
    civil_from_days(days, year, month, day);
    if (year - kBaseYear > INT32_MAX || year - kBaseYear < INT32_MIN) return false;
    out.tm_sec = static_cast<int>(rest % kSecondsPerMinute);
    out.tm_min = static_cast<int>(rest / kSecondsPerMinute % kSecondsPerMinute);
    out.tm_hour = static_cast<int>(rest / kSecondsPerHour);
    out.tm_mday = day;
    out.tm_mon = month - 1;
    out.tm_year = static_cast<int>(year - kBaseYear);
    out.tm_wday = static_cast<int>(floor_mod(days + kEpochWeekday, kDaysPerWeek));
    out.tm_yday = day_of_year(year, month, day);
    out.tm_isdst = 0;
    return true;
}

const char *name_or_unknown(const char *const *names, int count, int index) {
    return index >= 0 && index < count ? names[index] : "?";
}

const char *weekday_name(const tm &t) { return name_or_unknown(kWeekdays, kDaysPerWeek, t.tm_wday); }
const char *month_name(const tm &t) { return name_or_unknown(kMonths, kMonthsPerYear, t.tm_mon); }
int hour_of_twelve(const tm &t) { return t.tm_hour % kHalfDay == 0 ? kHalfDay : t.tm_hour % kHalfDay; }

// strftime's output buffer: what does not fit marks the whole result as
// failed.
struct Output {
    char *at;
    size_t room;
    bool overflow;

    void put(const char *text, size_t length) {
        for (size_t i = 0; i < length; i++) {
            if (room <= 1) {
                overflow = true;
                return;
            }
            *at++ = text[i];
            room--;
        }
    }
    void put(const char *text) {
        size_t n = 0;
        while (text[n] != '\0') n++;
        put(text, n);
    }
    void number(const char *format, int value) {
        char digits[16];
        int length = snprintf(digits, sizeof digits, format, value);
        put(digits, static_cast<size_t>(length));
    }
};

bool expand(Output &out, char conversion, const tm &t);

// Conversions that are other conversions in a row.
struct Composite {
    char conversion;
    const char *expansion;
};

constexpr Composite kComposites[] = {
    {'c', "a b e H:M:S Y"}, {'D', "m/d/y"}, {'F', "Y-m-d"}, {'T', "H:M:S"}, {'R', "H:M"},
    {'r', "I:M:S p"},       {'x', "m/d/y"}, {'X', "H:M:S"}, {'h', "b"},
};

// Letters of the expansion are conversions, anything else is copied.
bool expand_composite(Output &out, const char *expansion, const tm &t) {
    for (; *expansion != '\0'; expansion++) {
        char c = *expansion;
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter) out.put(&c, 1);
        else if (!expand(out, c, t)) return false;
    }
    return true;
}

bool expand(Output &out, char conversion, const tm &t) {
    for (const Composite &composite : kComposites)
        if (composite.conversion == conversion) return expand_composite(out, composite.expansion, t);
    switch (conversion) {
    case 'a': out.put(weekday_name(t), kAbbreviation); return true;
    case 'A': out.put(weekday_name(t)); return true;
    case 'b': out.put(month_name(t), kAbbreviation); return true;
    case 'B': out.put(month_name(t)); return true;
    case 'd': out.number("%02d", t.tm_mday); return true;
    case 'e': out.number("%2d", t.tm_mday); return true;
    case 'H': out.number("%02d", t.tm_hour); return true;
    case 'I': out.number("%02d", hour_of_twelve(t)); return true;
    case 'j': out.number("%03d", t.tm_yday + 1); return true;
    case 'm': out.number("%02d", t.tm_mon + 1); return true;
    case 'M': out.number("%02d", t.tm_min); return true;
    case 'S': out.number("%02d", t.tm_sec); return true;
    case 'p': out.put(t.tm_hour < kHalfDay ? "AM" : "PM"); return true;
    case 'w': out.number("%d", t.tm_wday); return true;
    case 'y': out.number("%02d", static_cast<int>(floor_mod(int64_t{t.tm_year} + kBaseYear, 100))); return true;
    case 'Y': out.number("%d", t.tm_year + kBaseYear); return true;
    case 'Z': out.put("GMT"); return true;
    case 'z': out.put("+0000"); return true;
    case 'n': out.put("\n"); return true;
    case 't': out.put("\t"); return true;
    case '%': out.put("%"); return true;
    default: return false;
    }
}

}  // namespace
}  // namespace kiv::calendar

using namespace kiv::calendar;

extern "C" {

clock_t clock(void) {
    errno = ENOSYS;
    return -1;
}

time_t time(time_t *now) {
    errno = ENOSYS;
    if (now != nullptr) *now = -1;
    return -1;
}

int clock_gettime(clockid_t, struct timespec *) {
    errno = ENOSYS;
    return -1;
}

int timespec_get(struct timespec *, int) { return 0; }

double difftime(time_t end, time_t start) { return static_cast<double>(end) - static_cast<double>(start); }

// Fields out of their ranges carry into the next larger ones; the fields are
// then rewritten normalised, weekday and day of the year included.
time_t mktime(struct tm *broken_down) {
    int64_t month = broken_down->tm_mon;
    int64_t year = int64_t{broken_down->tm_year} + kBaseYear + floor_div(month, kMonthsPerYear);
    month = floor_mod(month, kMonthsPerYear);
    int64_t days = days_from_civil(year, month + 1, 1) + broken_down->tm_mday - 1;
    int64_t seconds = days * kSecondsPerDay + int64_t{broken_down->tm_hour} * kSecondsPerHour +
                      int64_t{broken_down->tm_min} * kSecondsPerMinute + broken_down->tm_sec;
    if (seconds > INT32_MAX || seconds < INT32_MIN || !fill_broken_down(seconds, *broken_down)) {
        errno = EOVERFLOW;
        return -1;
    }
    return static_cast<time_t>(seconds);
}

struct tm *gmtime(const time_t *when) {
    if (when == nullptr || !fill_broken_down(*when, g_broken_down)) return nullptr;
    return &g_broken_down;
}

struct tm *localtime(const time_t *when) {
    return gmtime(when);
}

// "Sun Sep 16 01:03:52 1973\n", in one static buffer.
char *asctime(const struct tm *broken_down) {
    Output out{g_text, sizeof g_text, false};
    expand_composite(out, "a b e H:M:S Y\n", *broken_down);
    *out.at = '\0';
    return g_text;
}

// The "C" locale's conversions; an unknown one, or a result that does not
// fit with its NUL, gives 0.
size_t strftime(char *buffer, size_t size, const char *format, const struct tm *broken_down) {
    if (size == 0) return 0;
    Output out{buffer, size, false};
    for (; *format != '\0' && !out.overflow; format++) {
        if (*format != '%') out.put(format, 1);
        else if (!expand(out, *++format, *broken_down)) return 0;
    }
    if (out.overflow) return 0;
    *out.at = '\0';
    return static_cast<size_t>(out.at - buffer);
}

char *ctime(const time_t *when) {
    struct tm *broken_down = localtime(when);
    return broken_down != nullptr ? asctime(broken_down) : nullptr;
}

}  // extern "C"
