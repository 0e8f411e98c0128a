#pragma once
// Length of an audio file in seconds, for showing it to the operator.

#include <string>

// Seconds from the file's own headers: WAV through TWAVFile, MP3 (extension in any case)
// through TMPEGaudio; when they give no positive length, MediaLength. 0 for a missing or
// empty file or when no length can be found. Never raises.
double AudioFileDuration(const std::string& FileName);

// Seconds of audio libsndfile decodes from the file: decoded frames / sample rate. MP3
// frames are counted by decoding, since the header count is only an estimate. 0 on any
// failure. Never raises.
double MediaLength(const std::string& FileName);
