#pragma once
// Plays an audio file on the sound server's default output, decoded by the program's own reader
// (TcbAudioFileReader), so the operator hears exactly the audio the detector reads, in any
// format the detector accepts. Used by the sample dialog to listen to a clip.
//
// The server's event loop runs on a thread of libpulse's; it pulls decoded blocks from the
// reader as the server asks for them. Open, Play, Stop and the destructor are called from one
// thread (the dialog's); Mode may be read from any thread.

#include <atomic>
#include <memory>
#include <string>

class TAudioPlayer {
public:
    enum class TMode {
        NotReady,  // nothing opened, or the file could not be read
        Stopped,   // a file is open; not playing (never started, stopped, or played to its end)
        Playing,
    };

    TAudioPlayer();
    ~TAudioPlayer();
    TAudioPlayer(const TAudioPlayer&) = delete;
    TAudioPlayer& operator=(const TAudioPlayer&) = delete;

    // Stops what plays and opens FileName. False with ErrorText when the reader refuses it
    // (the mode is then NotReady).
    bool Open(const std::string& FileName);
    // Plays the open file from its start on the server's default output. False with ErrorText
    // when nothing is open or the server cannot be reached.
    bool Play();
    // Stops playing at once; the file stays open.
    void Stop();
    TMode Mode() const;

    const std::string& FileName() const { return FFileName; }
    std::string ErrorText;

private:
    struct TStream;

    std::string FFileName;
    std::unique_ptr<TStream> FStream;
    bool FOpen = false;
};
