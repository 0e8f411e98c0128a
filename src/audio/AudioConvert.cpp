#include "audio/AudioConvert.h"

#include "audio/cbAudioRead.h"

#include <soxr.h>

#include <cmath>
#include <string>

void CopyAsStereo(const int16_t* In, size_t Frames, size_t Channels, int16_t* Out)
{
    const size_t Second = Channels > 1 ? 1 : 0;
    for (size_t F = 0; F < Frames; ++F) {
        Out[2 * F] = In[F * Channels];
        Out[2 * F + 1] = In[F * Channels + Second];
    }
}

TResampler::TResampler(uint32_t InRate, uint32_t OutRate, unsigned Channels)
    : FRatio(double(OutRate) / InRate), FChannels(Channels)
{
    soxr_io_spec_t Io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    Io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t Quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t Error = nullptr;
    FSoxr = soxr_create(InRate, OutRate, Channels, &Error, &Io, &Quality, nullptr);
    if (Error) {
        soxr_delete(FSoxr);
        throw EAudioReadError(std::string("Cannot resample the audio: ") + Error, AudioReadCode::IncompatibleFormat);
    }
}

TResampler::~TResampler()
{
    soxr_delete(FSoxr);
}

void TResampler::Process(const int16_t* In, size_t InFrames, bool Last, std::vector<int16_t>& Out)
{
    // Room for what the input gives at the new rate and a little more: one call takes a whole
    // clip, flush included. Whatever did not fit comes with the next call, until the input is
    // taken and the resampler had less to give than the room it was offered.
    size_t Left = InFrames;
    for (;;) {
        const size_t Room = size_t(std::ceil(double(Left) * FRatio)) + 16;
        const size_t Start = Out.size() / FChannels;
        Out.resize((Start + Room) * FChannels);
        size_t Taken = 0;
        size_t Given = 0;
        // A length given as its complement tells libsoxr that the input ends there.
        const soxr_error_t Error = soxr_process(FSoxr, In, Last ? ~Left : Left, &Taken, Out.data() + Start * FChannels,
                                                Room, &Given);
        Out.resize((Start + Given) * FChannels);
        if (Error)
            throw EAudioReadError(std::string("Cannot resample the audio: ") + Error, AudioReadCode::IncompatibleFormat);
        In += Taken * FChannels;
        Left -= Taken;
        if (Left == 0 && Given < Room)
            return;
    }
}
