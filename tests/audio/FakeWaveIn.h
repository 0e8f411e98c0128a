#pragma once
// A wave input device for tests: its buffers come back when the test says so, and its
// operations fail on demand. It stands in at the one seam a real server cannot play: a
// device that fails to open, prepare, start or queue, or that goes away on cue.

#include <cstring>
#include <deque>
#include <string>

#include "audio/AudioIO.h"

class FakeDevice final : public TWaveInDevice {
public:
    struct State {
        int openResult = 0, prepareResult = 0, startResult = 0;
        int addResultAfter = -1;  // AddBuffer fails from this call on (-1: never)
        int opens = 0, adds = 0, resets = 0, closes = 0;
        std::deque<TWaveHeader*> queued;
        TWaveInNotify notify;
    };
    explicit FakeDevice(State& s) : st(s) {}

    int Open(int, const TWaveFormat&, TWaveInNotify notify) override
    {
        ++st.opens;
        if (st.openResult)
            return st.openResult;
        st.notify = std::move(notify);
        st.notify({TWaveInMessage::Open, nullptr, 0});
        return 0;
    }
    int Prepare(TWaveHeader&) override { return st.prepareResult; }
    int AddBuffer(TWaveHeader& h) override
    {
        if (st.addResultAfter >= 0 && st.adds >= st.addResultAfter)
            return 7;
        ++st.adds;
        st.queued.push_back(&h);
        return 0;
    }
    int Start() override { return st.startResult; }
    void Reset() override
    {
        ++st.resets;
        while (!st.queued.empty()) {
            st.notify({TWaveInMessage::Data, st.queued.front(), 0});
            st.queued.pop_front();
        }
    }
    void Close() override
    {
        ++st.closes;
        st.notify({TWaveInMessage::Close, nullptr, 0});
    }
    std::string ErrorText(int code) const override { return "fake error " + std::to_string(code); }

private:
    State& st;
};

// Returns the oldest queued buffer with `bytes` recorded, filled with `fill`.
inline void returnBuffer(FakeDevice::State& st, uint32_t bytes, uint8_t fill = 0x11)
{
    TWaveHeader* h = st.queued.front();
    st.queued.pop_front();
    std::memset(h->Data, fill, bytes);
    h->BytesRecorded = bytes;
    st.notify({TWaveInMessage::Data, h, 0});
}

