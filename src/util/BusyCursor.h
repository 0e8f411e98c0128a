#pragma once
// The counted busy (hourglass) cursor. Begin raises the count, End lowers it (never below 0);
// the cursor shows while the count is above 0. Begin and End may come from different threads,
// so the count is guarded by a lock.
//
// This library has no windows: the program installs a handler that shows or restores the
// cursor; it is called, under the lock, when the count leaves 0 (true) and returns to 0 (false).

#include <functional>

void SetBusyCursorHandler(std::function<void(bool Busy)> Handler);
void BeginBusyCursor();
void EndBusyCursor();
int BusyCursorCount();

// Shows the busy cursor for the lifetime of the object.
class TBusyCursorScope {
public:
    TBusyCursorScope() { BeginBusyCursor(); }
    ~TBusyCursorScope() { EndBusyCursor(); }
    TBusyCursorScope(const TBusyCursorScope&) = delete;
    TBusyCursorScope& operator=(const TBusyCursorScope&) = delete;
};
