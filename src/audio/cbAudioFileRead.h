#pragma once
// Reads any audio file libsndfile decodes (WAV, MP3, FLAC, Ogg, ...) as 16-bit PCM in the
// file's own sample rate and channel count.

#include "audio/cbAudioRead.h"

#include <memory>
#include <string>
#include <vector>

struct sf_private_tag;
class TFileChunks;

class TcbAudioFileReader : public TcbAudioReader {
public:
    TcbAudioFileReader();
    ~TcbAudioFileReader() override;
    TcbAudioFileReader(const TcbAudioFileReader&) = delete;
    TcbAudioFileReader& operator=(const TcbAudioFileReader&) = delete;

    // Opens FileName and fills Format and Duration; position, range and block times start
    // at 0. Raises EAudioReadError (with libsndfile's code and text) when the file is
    // missing or cannot be decoded, and with AudioReadCode::MalformedFile when it is cut
    // short inside its audio; a failed Open leaves the reader closed.
    void Open(const std::string& FileName);
    // Releases the file; safe when nothing is open.
    void Close();
    bool IsOpen() const { return FFile != nullptr; }
    const std::string& FileName() const { return FFileName; }
    // The frames the open file declares (an estimate for MP3, whose stream's end tells the
    // true count); 0 when it declares none.
    int64_t DeclaredFrames() const { return FDeclaredFrames; }

    void SetPosition(int64_t Time) override;
    void SetLength(int64_t Span) override;
    void SetStart(int64_t Time) override;
    // Reads whole frames only: Size is rounded down to a multiple of the frame size. A
    // Size below one frame raises "Invalid buffer size.".
    int32_t Read(void* Buffer, int32_t Size) override;

private:
    int64_t TimeOfFrame(int64_t Frame) const;
    int64_t FrameOfTime(int64_t Time) const;
    [[noreturn]] void RaiseDecoderError(int32_t FallbackCode);
    // Decodes up to Frames frames as 16-bit samples; returns the frames decoded.
    int64_t Decode(int16_t* Target, int32_t Frames);

    std::string FFileName;
    sf_private_tag* FFile = nullptr;
    std::unique_ptr<TFileChunks> FChunks;  // the file's bytes as the decoder reads them
    int64_t FFrame = 0;               // frame the next Read decodes first
    int64_t FDeclaredFrames = 0;      // frames the file declares at Open
    bool FFloatSource = false;        // samples stored as floating point
    std::vector<int16_t> FAligned;    // bounce buffer for callers' odd addresses
    std::vector<float> FFloats;       // floating-point samples before scaling
};
