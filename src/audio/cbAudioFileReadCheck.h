#pragma once
// Whether an audio file holds all the audio its headers announce. A file cut off while it
// was copied or downloaded still decodes, only in part, and a sample clip loaded in part
// gives a fingerprint of the wrong length that nobody would notice.

#include <cstdint>
#include <string>

// True when the sound data chunk of a RIFF (WAV, RIFX, RF64) or AIFF/AIFC file is declared
// longer than the bytes the file holds behind the chunk header: Declared is its size, Held
// what the file holds of it. A missing final pad byte is no cut. Also true, with Declared 0
// and Held the file's size, when the file ends inside a chunk (or a chunk header) before the
// sound data chunk: its audio was cut away whole. False for streamed files
// (size field 0 or all ones), for files of other kinds and for headers that cannot be
// walked. Never raises; reads only what the file gives.
bool DataChunkCut(const std::string& FileName, int64_t& Declared, int64_t& Held);

// Raises EAudioReadError with AudioReadCode::MalformedFile and a message naming the file
// when FileName is cut short: inside its data chunk, or (for an MPEG audio stream, Mpeg
// true) inside its last frame.
void CheckAudioFileComplete(const std::string& FileName, bool Mpeg);
