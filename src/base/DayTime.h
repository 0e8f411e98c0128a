#pragma once
// The day-based date-time every layer shares: days since 30.12.1899, the fraction is the time
// of day, 0 means "not set". Kept free of Qt so the engine and the Qt layers agree on one
// definition and one clock.

using TDateTime = double;

inline constexpr double MSecsPerDay = 86400.0 * 1000.0;

// The local date-time now, to the millisecond.
TDateTime LocalNow();
