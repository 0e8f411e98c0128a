#pragma once
// A whole audio clip as the engine hears it: interleaved 16-bit stereo at the capture rate.
// Both fingerprint builders read their clips through here, so a clip recorded at 48 kHz or
// 22.05 kHz is matched against 44.1 kHz capture like any other.

#include <cstdint>
#include <string>
#include <vector>

// Reads every frame of the clip (any file TcbAudioFileReader decodes): stereo as it is, mono
// on both sides, more channels by their first two (front left and right); resampled to
// FrameRate (TResampler) when the file has another rate. Raises
// EAudioReadError when the file cannot be read or resampled.
std::vector<int16_t> ReadClipStereo(const std::string& FileName, int32_t FrameRate);
