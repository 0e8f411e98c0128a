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
    const double LocalSeconds = double(int64_t(Seconds) + Local.tm_gmtoff) + double(Ms % 1000) / 1000.0;
    return 25569.0 + LocalSeconds / 86400.0;  // 25569: 01.01.1970 in days since 30.12.1899
}
