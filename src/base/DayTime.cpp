#include "base/DayTime.h"

#include <chrono>
#include <cstdint>
#include <ctime>

TDateTime LocalNow()
{
    using namespace std::chrono;
    const int64_t Ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const auto Seconds = time_t(Ms / 1000);
    tm Local{};
    localtime_r(&Seconds, &Local);
    const int64_t LocalMs = (int64_t(Seconds) + Local.tm_gmtoff) * 1000 + Ms % 1000;
    // Whole days plus the millisecond of the day, as the conversion from Qt's date-times
    // computes it, so that both give the very same value for the same millisecond.
    const int64_t MsPerDay = 86400 * 1000;
    const int64_t Days = LocalMs >= 0 ? LocalMs / MsPerDay : -((-LocalMs + MsPerDay - 1) / MsPerDay);
    return double(25569 + Days) + double(LocalMs - Days * MsPerDay) / MSecsPerDay;  // 25569: 01.01.1970
}
