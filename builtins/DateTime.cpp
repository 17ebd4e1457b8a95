// Date and time builtins: the local date and time, date arithmetic, the tick count and the line's sleep.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "builtins/Families.h"
#include "engine/NumText.h"
#include "engine/TagTelBasic.h"
#include "platform/Clock.h"
#include "platform/SysTime.h"
#include "telephony/TagKvCall.h"

namespace zz {

ZZ_BUILTIN_P_RUN(TagDatetime, 5);
ZZ_BUILTIN_P_RUN(TagGetTick, 1);
ZZ_BUILTIN_P_RUN(TagAfterDaysDate, 3);
ZZ_BUILTIN_L_RUN(TagSleep, 1);

namespace {

constexpr int32_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
// The Gregorian calendar repeats every 400 years, which are this many days.
constexpr int64_t kDaysPer400Years = 146097;

bool IsLeap(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t MonthDays(int64_t year, int32_t month) {
    return month == 2 && IsLeap(year) ? 29 : kMonthDays[month - 1];
}

struct Date {
    int64_t year;
    int32_t month, day;
};

// Steps the date by days, one day at a time as the calendar turns (whole 400-year cycles at once).
void AddDays(Date& d, int64_t days) {
    d.year += days / kDaysPer400Years * 400;
    days %= kDaysPer400Years;
    for (; days > 0; --days) {
        if (++d.day > MonthDays(d.year, d.month)) {
            d.day = 1;
            if (++d.month > 12) {
                d.month = 1;
                ++d.year;
            }
        }
    }
    for (; days < 0; ++days) {
        if (--d.day < 1) {
            if (--d.month < 1) {
                d.month = 12;
                --d.year;
            }
            d.day = MonthDays(d.year, d.month);
        }
    }
}

int32_t DateNumber(int64_t year, int32_t month, int32_t day) {
    return static_cast<int32_t>(static_cast<uint32_t>(year * 10000 + month * 100 + day));
}

} // namespace

int32_t TagDatetime::Run() {
    LocalTime t = GetLocalTime();
    char time[16];
    std::snprintf(time, sizeof time, "%02d%02d%02d", t.hour, t.minute, t.second);
    SetOutInt(0, t.year);
    SetOutInt(1, t.month);
    SetOutInt(2, t.day);
    SetOutText(3, time);
    SetOutInt(4, t.dayOfWeek);
    return DateNumber(t.year, t.month, t.day);
}

int32_t TagGetTick::Run() {
    int32_t tick = static_cast<int32_t>(GetTickCount());
    SetOutInt(0, tick);
    return tick;
}

int32_t TagAfterDaysDate::Run() {
    const TagVar& v = Operand(0);
    int32_t number = v.type == TagVar::kString ? TextToInt(Text(0)) : StoredInt(0);
    Date d{number / 10000, (number / 100) % 100, number % 100};
    if (number < 1) {
        LocalTime t = GetLocalTime();
        d = Date{t.year, t.month, t.day};
    }
    // The month indexes the table of month lengths: a date without a real month is refused.
    if (d.month < 1 || d.month > 12) return kBuiltinBadArg;
    AddDays(d, StoredInt(1));
    char text[40];
    std::snprintf(text, sizeof text, "%lld%02d%02d", static_cast<long long>(d.year), d.month, d.day);
    SetOutText(2, text);
    return DateNumber(d.year, d.month, d.day);
}

// Sleep(seconds): waits that long (0: without limit) on the line's wake event, and ends early when the line is
// stopped or quits, or when a call that was talking is released (the maximum talk time included). The drivers
// signal the line when their call changes and IsOnline reads the change, so a card channel's release ends the
// wait as a SIP BYE does.
int32_t TagSleep::Run() {
    TagKvCall* call = Call();
    if (!call) return kBuiltinOk;
    const double ms = std::trunc(Number(0) * 1000.0);
    const int64_t duration = std::isnan(ms) ? 0 : static_cast<int64_t>(std::clamp(ms, -1e15, 1e15));
    if (duration < 0) return kBuiltinOk;
    auto ended = [&] {
        if (call->stopFlag || Program()->IsQuit()) return true;
        int32_t before = call->prevState;
        call->IsOnline();
        return call->callState == kCallReleased && before == kCallConnected;
    };
    // The wait ends once more than the duration has passed.
    call->WaitUntil(ended, duration == 0 ? WakeEvent::kForever : duration + 1);
    return kBuiltinOk;
}

std::span<const BuiltinEntry> DateTimeBuiltins() {
    static const BuiltinEntry rows[] = {
        ZZ_ROW_P(30, TagDatetime, 5),      // Datetime
        ZZ_ROW_P(31, TagGetTick, 1),       // GetTick
        ZZ_ROW_P(32, TagAfterDaysDate, 3), // AfterDaysDate
        ZZ_ROW_L(148, TagSleep, 1),        // Sleep
    };
    return rows;
}

} // namespace zz
