#include "util/BusyCursor.h"

#include <mutex>

namespace {

struct TBusyState {
    std::mutex Lock;
    int Count = 0;
    std::function<void(bool)> Handler;
};

TBusyState& State()
{
    static TBusyState Instance;
    return Instance;
}

}  // namespace

void SetBusyCursorHandler(std::function<void(bool Busy)> Handler)
{
    TBusyState& S = State();
    std::lock_guard Guard(S.Lock);
    S.Handler = std::move(Handler);
}

void BeginBusyCursor()
{
    TBusyState& S = State();
    std::lock_guard Guard(S.Lock);
    if (++S.Count == 1 && S.Handler)
        S.Handler(true);
}

void EndBusyCursor()
{
    TBusyState& S = State();
    std::lock_guard Guard(S.Lock);
    if (S.Count == 0)
        return;
    if (--S.Count == 0 && S.Handler)
        S.Handler(false);
}

int BusyCursorCount()
{
    TBusyState& S = State();
    std::lock_guard Guard(S.Lock);
    return S.Count;
}
