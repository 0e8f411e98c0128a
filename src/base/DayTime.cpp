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
    // Whole days and the milliseconds of the day, added as the Qt conversion adds them, so both
    // give the very same value for one instant.
    constexpr int64_t MsPerDay = 86400 * 1000;
    const int64_t LocalMs = Ms + int64_t(Local.tm_gmtoff) * 1000;
    int64_t Days = LocalMs / MsPerDay;
    if (LocalMs % MsPerDay < 0)
        --Days;
    const int64_t MsOfDay = LocalMs - Days * MsPerDay;
    return double(25569 + Days) + double(MsOfDay) / MSecsPerDay;  // 25569: 01.01.1970
}
