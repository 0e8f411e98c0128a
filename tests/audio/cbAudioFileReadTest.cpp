// The audio file reader: formats, block reads, the time range, and errors from bad files.

#include "audio/cbAudioFileRead.h"
#include "audio/WaveInfo.h"

#include "helpers/TestFiles.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int32_t Block = 8192;  // 2048 stereo frames of 16 bits

// A stereo file whose every sample tells its frame and channel, so any block read can be
// checked for being the right piece of the file.
testkit::Pcm RampPcm(size_t Frames, int Rate = 44100, int Channels = 2)
{
    testkit::Pcm Pcm;
    Pcm.rate = Rate;
    Pcm.channels = Channels;
    Pcm.append(double(Frames) / Rate, [](int Channel, size_t Frame) {
        return static_cast<int16_t>(int(Frame % 30000) * (Channel == 0 ? 1 : -1));
    });
    return Pcm;
}

int64_t TimeOfFrame(int64_t Frame, int64_t Rate = 44100)
{
    return Frame * AudioTimeUnitsPerSecond / Rate;
}

int32_t ExpectReadError(TcbAudioFileReader& Reader, void* Buffer, int32_t Size)
{
    try {
        Reader.Read(Buffer, Size);
    } catch (const EAudioReadError& E) {
        return E.ErrorCode();
    }
    ADD_FAILURE() << "Read did not raise";
    return 0;
}

class AudioFileReader : public ::testing::Test {
protected:
    testkit::TempDir Dir;
    std::string WavOf(const testkit::Pcm& Pcm, const std::string& Name = "clip.wav")
    {
        const std::string Path = Dir.file(Name);
        testkit::writeWav(Path, Pcm);
        return Path;
    }
};

TEST_F(AudioFileReader, DeliversWholeBlocksInTheFilesOwnFormatThenZeroAtTheEnd)
{
    const auto Pcm = RampPcm(3 * 2048 + 100);
    TcbAudioFileReader Reader;
    Reader.Open(WavOf(Pcm));

    const TWaveFormat& F = Reader.Format();
    EXPECT_EQ(F.FormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(F.Channels, 2);
    EXPECT_EQ(F.SamplesPerSec, 44100u);
    EXPECT_EQ(F.AvgBytesPerSec, 176400u);
    EXPECT_EQ(F.BlockAlign, 4);
    EXPECT_EQ(F.BitsPerSample, 16);
    EXPECT_EQ(Reader.Duration(), TimeOfFrame(3 * 2048 + 100));

    Reader.SetPosition(0);  // already there: nothing moves
    EXPECT_EQ(Reader.Position(), 0);

    std::vector<int16_t> Buffer(Block / 2);
    for (int64_t N = 0; N < 3; ++N) {
        ASSERT_EQ(Reader.Read(Buffer.data(), Block), Block) << "block " << N;
        EXPECT_EQ(0, std::memcmp(Buffer.data(), Pcm.samples.data() + N * 4096, Block)) << "block " << N;
        EXPECT_EQ(Reader.BlockStart(), TimeOfFrame(N * 2048));
        EXPECT_EQ(Reader.BlockEnd(), TimeOfFrame((N + 1) * 2048));
        EXPECT_EQ(Reader.Position(), Reader.BlockEnd());
    }
    EXPECT_EQ(Reader.Read(Buffer.data(), Block), 400);  // the incomplete last block
    EXPECT_EQ(0, std::memcmp(Buffer.data(), Pcm.samples.data() + 3 * 4096, 400));
    const int64_t End = Reader.Position();
    EXPECT_EQ(Reader.Read(Buffer.data(), Block), 0);
    EXPECT_EQ(Reader.Read(Buffer.data(), Block), 0);
    EXPECT_EQ(Reader.Position(), End);
}

TEST_F(AudioFileReader, RangeLimitsAreKeptInBounds)
{
    TcbAudioFileReader Reader;
    Reader.Open(WavOf(RampPcm(44100)));
    struct Case { int64_t Given, Stored; };
    for (Case C : {Case{5, 100000}, Case{-7, 100000}, Case{100000, 100000}, Case{2'000'000'000'000'000, 1'000'000'000'000'000},
                   Case{0, 0}}) {
        Reader.SetLength(C.Given);
        EXPECT_EQ(Reader.Length(), C.Stored) << "SetLength(" << C.Given << ")";
    }
    Reader.SetStart(-5);
    EXPECT_EQ(Reader.Start(), 0);
    Reader.SetPosition(Reader.Duration() + 12345);
    EXPECT_EQ(Reader.Position(), Reader.Duration());
    std::vector<int16_t> Buffer(Block / 2);
    EXPECT_EQ(Reader.Read(Buffer.data(), Block), 0);
}

TEST_F(AudioFileReader, RemovingTheRangeKeepsThePosition)
{
    TcbAudioFileReader Reader;
    Reader.Open(WavOf(RampPcm(44100)));
    std::vector<int16_t> Buffer(Block / 2);
    Reader.SetLength(TimeOfFrame(8000));
    ASSERT_EQ(Reader.Read(Buffer.data(), Block), Block);
    ASSERT_EQ(Reader.Read(Buffer.data(), Block), Block);
    const int64_t Here = Reader.Position();
    Reader.SetLength(0);
    EXPECT_EQ(Reader.Position(), Here);
    Reader.SetLength(TimeOfFrame(100));  // ends before the position: back to the start
    EXPECT_EQ(Reader.Position(), 0);
}

TEST_F(AudioFileReader, BlockCrossingTheRangeEndIsCutToWholeFramesAndEndsTheRange)
{
    TcbAudioFileReader Reader;
    Reader.Open(WavOf(RampPcm(44100)));
    const int64_t HalfBlock = TimeOfFrame(1024);
    Reader.SetLength(HalfBlock);
    std::vector<int16_t> Buffer(Block / 2);
    const int32_t Bytes = Reader.Read(Buffer.data(), Block);
    EXPECT_EQ(Bytes % 4, 0);
    EXPECT_GE(Bytes, Block / 2 - 8);
    EXPECT_LE(Bytes, Block / 2);
    EXPECT_EQ(Reader.BlockEnd(), HalfBlock);
    EXPECT_EQ(Reader.Position(), HalfBlock);
    EXPECT_EQ(Reader.Read(Buffer.data(), Block), 0);
}

// A range that starts inside the file: it ends at Start + Length, positions are held inside
// it, and a block crossing its end is cut there.
TEST_F(AudioFileReader, RangeAwayFromTheStartEndsAtStartPlusLength)
{
    TcbAudioFileReader Reader;
    Reader.Open(WavOf(RampPcm(20000)));
    const int64_t Start = TimeOfFrame(10000);
    const int64_t RangeEnd = Start + TimeOfFrame(1024);
    Reader.SetStart(Start);
    Reader.SetLength(TimeOfFrame(1024));
    ASSERT_EQ(Reader.Position(), Start);

    std::vector<int16_t> Buffer(Block / 2);
    int32_t Bytes = Reader.Read(Buffer.data(), Block);
    EXPECT_EQ(Buffer[0], 10000);
    EXPECT_EQ(Bytes % 4, 0);
    EXPECT_GE(Bytes, Block / 2 - 8);
    EXPECT_LE(Bytes, Block / 2);
    EXPECT_EQ(Reader.BlockStart(), Start);
    EXPECT_EQ(Reader.BlockEnd(), RangeEnd);
    EXPECT_EQ(Reader.Position(), RangeEnd);
    EXPECT_EQ(Reader.Read(Buffer.data(), Block), 0);

    // Beyond the range end (though inside the file): held at the end of the range.
    Reader.SetPosition(RangeEnd + TimeOfFrame(2000));
    EXPECT_EQ(Reader.Position(), RangeEnd);
    // 24 frames before the range end: the next block gives only what is left of the range.
    Reader.SetPosition(TimeOfFrame(11000));
    Bytes = Reader.Read(Buffer.data(), Block);
    EXPECT_EQ(Buffer[0], 11000);
    EXPECT_EQ(Bytes % 4, 0);
    EXPECT_GE(Bytes, 20 * 4);
    EXPECT_LE(Bytes, 24 * 4);
    EXPECT_EQ(Reader.Position(), RangeEnd);

    // A shorter range that ends before the position moves it back to the range start.
    Reader.SetLength(100000);
    EXPECT_EQ(Reader.Position(), Start);
}

TEST_F(AudioFileReader, SetStartAheadOfThePositionSeeksThere)
{
    TcbAudioFileReader Reader;
    Reader.Open(WavOf(RampPcm(20000)));
    const int64_t At = TimeOfFrame(10000);
    Reader.SetStart(At);
    EXPECT_EQ(Reader.Start(), At);
    EXPECT_EQ(Reader.Position(), At);
    std::vector<int16_t> Buffer(4);
    ASSERT_EQ(Reader.Read(Buffer.data(), 8), 8);
    EXPECT_EQ(Buffer[0], 10000);
    EXPECT_EQ(Buffer[1], -10000);
    EXPECT_EQ(Buffer[2], 10001);
    Reader.SetPosition(0);  // before the start: held at the start
    EXPECT_EQ(Reader.Position(), At);
}

// The file is read from the disk in large chunks under the decoder: reads of any size, and
// seeks back and forth, deliver exactly the file's frames across the chunks' edges (a ramp
// of 200,000 frames is about three chunks).
TEST_F(AudioFileReader, ReadsOfEverySizeAndSeeksGiveTheFilesFrames)
{
    const size_t Frames = 200000;
    const auto Pcm = RampPcm(Frames);
    TcbAudioFileReader Reader;
    Reader.Open(WavOf(Pcm));
    struct Case {
        int64_t FromFrame;
        int32_t Bytes;  // of each read
    };
    const Case Cases[] = {{0, 4}, {0, 4096}, {0, 3 * 4096 + 4}, {0, 300000 * 4}, {65530, 8192},
                          {131000, 1 << 20}, {5, 4096}, {199990, 4096}};
    for (const Case& C : Cases) {
        SCOPED_TRACE(testing::Message() << "from frame " << C.FromFrame << " in reads of " << C.Bytes);
        Reader.SetPosition(TimeOfFrame(C.FromFrame));
        std::vector<int16_t> Buffer(size_t(C.Bytes) / 2);
        std::vector<int16_t> Got;
        // Ten reads, or to the end of the file.
        for (int I = 0; I < 10; ++I) {
            const int32_t Bytes = Reader.Read(Buffer.data(), C.Bytes);
            Got.insert(Got.end(), Buffer.begin(), Buffer.begin() + Bytes / 2);
            if (Bytes < C.Bytes)
                break;
        }
        const size_t First = size_t(C.FromFrame) * 2;
        const size_t Expected = std::min(Pcm.samples.size() - First, size_t(C.Bytes) / 2 * 10);
        ASSERT_EQ(Got.size(), Expected);
        EXPECT_TRUE(std::equal(Got.begin(), Got.end(), Pcm.samples.begin() + ptrdiff_t(First)));
    }
}

TEST_F(AudioFileReader, MonoAndOtherRatesComeOutAsTheyAre)
{
    TcbAudioFileReader Reader;
    Reader.Open(WavOf(RampPcm(22050, 22050, 1)));
    EXPECT_EQ(Reader.Format().SamplesPerSec, 22050u);
    EXPECT_EQ(Reader.Format().Channels, 1);
    EXPECT_EQ(Reader.Format().BlockAlign, 2);
    EXPECT_EQ(Reader.Duration(), AudioTimeUnitsPerSecond);
    std::vector<int16_t> Buffer(3);
    EXPECT_EQ(Reader.Read(Buffer.data(), 5), 4);  // whole frames only
    EXPECT_EQ(Buffer[1], 1);
}

TEST_F(AudioFileReader, ReadsIntoABufferAtAnOddAddress)
{
    const auto Pcm = RampPcm(4096);
    TcbAudioFileReader Reader;
    Reader.Open(WavOf(Pcm));
    std::vector<uint8_t> Storage(Block + 1);
    ASSERT_EQ(Reader.Read(Storage.data() + 1, Block), Block);
    EXPECT_EQ(0, std::memcmp(Storage.data() + 1, Pcm.samples.data(), Block));
}

TEST_F(AudioFileReader, DecodesMp3AndCorrectsItsLengthAtTheEnd)
{
    testkit::Pcm Pcm;
    Pcm.appendTones(2.0, {1000, 5000});
    const std::string Mp3 = Dir.file("clip.mp3");
    testkit::encodeMp3(WavOf(Pcm), Mp3);
    TcbAudioFileReader Reader;
    Reader.Open(Mp3);
    EXPECT_EQ(Reader.Format().SamplesPerSec, 44100u);
    EXPECT_EQ(Reader.Format().Channels, 2);
    std::vector<int16_t> Buffer(Block / 2);
    int64_t Frames = 0;
    int16_t Loudest = 0;
    for (int32_t Got; (Got = Reader.Read(Buffer.data(), Block)) > 0;) {
        Frames += Got / 4;
        for (int I = 0; I < Got / 2; ++I)
            Loudest = std::max<int16_t>(Loudest, Buffer[size_t(I)]);
    }
    EXPECT_NEAR(double(Frames), 88200.0, 2000.0);
    EXPECT_GT(Loudest, 10000);
    EXPECT_EQ(Reader.Duration(), TimeOfFrame(Frames));
}

TEST_F(AudioFileReader, OpensEveryFormatLibsndfileDecodes)
{
    struct Case { const char* Name; int Format; };
    for (Case C : {Case{"clip.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16}, Case{"clip.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                   Case{"clip.w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT}}) {
        SCOPED_TRACE(C.Name);
        SF_INFO Info{};
        Info.samplerate = 48000;
        Info.channels = 2;
        Info.format = C.Format;
        const std::string Path = Dir.file(C.Name);
        SNDFILE* Out = sf_open(Path.c_str(), SFM_WRITE, &Info);
        ASSERT_NE(Out, nullptr) << sf_strerror(nullptr);
        std::vector<float> Samples(2 * 4800);
        for (size_t I = 0; I < Samples.size(); ++I)
            Samples[I] = 0.5f * float(std::sin(double(I / 2) * 0.1));
        sf_writef_float(Out, Samples.data(), 4800);
        sf_close(Out);

        TcbAudioFileReader Reader;
        Reader.Open(Path);
        EXPECT_EQ(Reader.Format().SamplesPerSec, 48000u);
        EXPECT_EQ(Reader.Format().BitsPerSample, 16);
        std::vector<int16_t> Buffer(2 * 4800);
        const int32_t Got = Reader.Read(Buffer.data(), int32_t(Buffer.size() * 2));
        EXPECT_EQ(Got, 4800 * 4);
        int Loudest = 0;
        for (int16_t V : Buffer)
            Loudest = std::max(Loudest, int(V));
        EXPECT_NEAR(Loudest, 16384, 1500);  // scaled to the 16-bit range, not clipped at 1
    }
}

TEST_F(AudioFileReader, BadFilesRaiseAClearErrorAndLeaveTheReaderClosed)
{
    std::vector<uint8_t> WavBytes;
    {
        const std::string Full = WavOf(RampPcm(1000), "full.wav");
        const std::string Text = testkit::readText(Full);
        WavBytes.assign(Text.begin(), Text.end());
    }
    testkit::writeText(Dir.file("text.wav"), "this is not audio at all, just some words in a file\n");
    testkit::writeBytes(Dir.file("header-cut.wav"), std::vector<uint8_t>(WavBytes.begin(), WavBytes.begin() + 30));
    testkit::writeBytes(Dir.file("empty.mp3"), {});
    std::vector<uint8_t> Noise(5000);
    for (size_t I = 0; I < Noise.size(); ++I)
        Noise[I] = uint8_t(I * 7919 % 251);
    testkit::writeBytes(Dir.file("noise.mp3"), Noise);
    std::filesystem::create_directory(Dir.file("folder.wav"));
    ASSERT_EQ(::mkfifo(Dir.file("pipe.wav").c_str(), 0600), 0);  // opening it must not wait for a writer

    for (const char* Name : {"missing.wav", "text.wav", "header-cut.wav", "empty.mp3", "noise.mp3", "folder.wav", "pipe.wav"}) {
        SCOPED_TRACE(Name);
        TcbAudioFileReader Reader;
        Reader.Open(WavOf(RampPcm(100), "good.wav"));
        try {
            Reader.Open(Dir.file(Name));
            ADD_FAILURE() << "Open did not raise";
        } catch (const EAudioReadError& E) {
            EXPECT_NE(E.ErrorCode(), 0);
            EXPECT_GT(std::strlen(E.what()), 10u) << E.what();
        }
        EXPECT_FALSE(Reader.IsOpen());
        int16_t Buffer[2];
        EXPECT_EQ(ExpectReadError(Reader, Buffer, 4), AudioReadCode::NotInitialized);
    }
}

TEST_F(AudioFileReader, ReadRefusesBuffersThatHoldNoFrame)
{
    TcbAudioFileReader Reader;
    Reader.Open(WavOf(RampPcm(100)));
    int16_t Buffer[2];
    struct Case { void* Address; int32_t Size; int32_t Code; };
    for (Case C : {Case{Buffer, 0, AudioReadCode::InvalidBufferSize}, Case{Buffer, -4, AudioReadCode::InvalidBufferSize},
                   Case{Buffer, 3, AudioReadCode::InvalidBufferSize}, Case{nullptr, 4, AudioReadCode::InvalidPointer}})
        EXPECT_EQ(ExpectReadError(Reader, C.Address, C.Size), C.Code) << "size " << C.Size;
    try {
        Reader.Read(Buffer, 0);
    } catch (const EAudioReadError& E) {
        EXPECT_STREQ(E.what(), "Invalid buffer size.");
    }
}

// Files cut off inside their audio (a copy or download that stopped early) are refused on
// Open, naming the file; complete files of the same kinds, streamed WAVs whose sizes were
// never filled in and tails that are no audio open and read to the end.
TEST_F(AudioFileReader, TruncatedFilesAreRefusedCompleteOnesOpen)
{
    const std::string Wav = testkit::readText(WavOf(RampPcm(44100), "ramp.wav"));  // 176400 data bytes
    const auto WithSizes = [&](uint32_t Riff, uint32_t Data, size_t Keep) {
        std::string Text = Wav.substr(0, Keep);
        for (int I = 0; I < 4; ++I) {
            Text[4 + size_t(I)] = char(Riff >> (8 * I));
            Text[40 + size_t(I)] = char(Data >> (8 * I));
        }
        return Text;
    };
    // A "junk" chunk of odd size (with its pad byte) ahead of the data chunk.
    std::string Junk = Wav.substr(0, 36) + std::string("junk\3\0\0\0abc\0", 12) + Wav.substr(36);
    Junk[4] = char(uint8_t(Junk[4]) + 12);
    const auto Written = [&](const char* Name, int Format) {
        SF_INFO Info{};
        Info.samplerate = 44100;
        Info.channels = 2;
        Info.format = Format;
        const std::string Path = Dir.file(Name);
        SNDFILE* Out = sf_open(Path.c_str(), SFM_WRITE, &Info);
        EXPECT_NE(Out, nullptr) << sf_strerror(nullptr);
        const auto Pcm = RampPcm(44100);
        sf_writef_short(Out, Pcm.samples.data(), 44100);
        sf_close(Out);
        return testkit::readText(Path);
    };
    const std::string Aiff = Written("written.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    const std::string Rf64 = Written("written.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
    const std::string Rifx = Written("written-rifx.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG);
    ASSERT_EQ(Rifx.compare(0, 4, "RIFX"), 0);

    testkit::Pcm Tone;
    Tone.appendTones(5.0, {700, 2500});  // MP3s longer than one 64 KiB read
    const std::string ToneWav = WavOf(Tone, "tone.wav");
    const auto Mp3 = [&](const std::string& Options) {
        const std::string Path = Dir.file("encoded.mp3");
        testkit::encodeMp3(ToneWav, Path, Options);
        return testkit::readText(Path);
    };
    // The audio frames without the last Count bytes, the version 1 tag (if any) kept.
    const auto Shortened = [](const std::string& File, size_t Count) {
        const bool Tag1 = File.size() > 128 && File.compare(File.size() - 128, 3, "TAG") == 0;
        const size_t AudioEnd = File.size() - (Tag1 ? 128 : 0);
        return File.substr(0, AudioEnd - Count) + File.substr(AudioEnd);
    };
    const std::string Cbr = Mp3("-b 128 --cbr");
    const std::string Vbr = Mp3("-V 4");
    const std::string Tagged = Mp3("-b 128 --cbr --add-id3v2 --tt Title --ta Artist");
    const std::string VbrTagged = Mp3("-V 2 --add-id3v2 --pad-id3v2-size 1000 --tt Title");
    ASSERT_EQ(Tagged.compare(0, 3, "ID3"), 0);
    ASSERT_EQ(Tagged.compare(Tagged.size() - 128, 3, "TAG"), 0);

    // Truncated files raise; the others give at least MinFrames frames.
    constexpr int64_t Refused = -1, Mp3Frames = 5 * 44100;
    struct Case { const char* Name; std::string File; int64_t MinFrames; };
    const std::vector<Case> Cases = {
        {"whole.wav", Wav, 44100},
        {"header-only.wav", Wav.substr(0, 44), Refused},
        {"half-a-frame.wav", Wav.substr(0, 44 + 2), Refused},
        {"middle.wav", Wav.substr(0, 44 + 40002), Refused},
        {"one-byte-short.wav", Wav.substr(0, Wav.size() - 1), Refused},
        {"streamed-all-ones.wav", WithSizes(0xFFFFFFFF, 0xFFFFFFFF, Wav.size()), 44100},
        // libsndfile takes a data size of 0 at its word: an empty stream, but not a cut one.
        {"streamed-zero.wav", WithSizes(0, 0, Wav.size()), 0},
        {"odd-size-no-pad.wav", WithSizes(36 + 176399, 176399, 44 + 176399), 44099},
        {"odd-size-padded.wav", WithSizes(36 + 176400, 176399, 44 + 176400), 44099},
        {"chunk-ahead.wav", Junk, 44100},
        {"chunk-ahead-cut.wav", Junk.substr(0, Junk.size() - 1000), Refused},
        {"whole-rifx.wav", Rifx, 44100},
        {"cut-rifx.wav", Rifx.substr(0, Rifx.size() - 1000), Refused},
        {"whole.aiff", Aiff, 44100},
        {"cut.aiff", Aiff.substr(0, Aiff.size() - 1000), Refused},
        {"whole.rf64", Rf64, 44100},
        {"cut.rf64", Rf64.substr(0, Rf64.size() - 1000), Refused},
        {"cbr.mp3", Cbr, Mp3Frames},
        {"cbr-third.mp3", Cbr.substr(0, Cbr.size() / 3), Refused},
        {"cbr-last-frame-short.mp3", Shortened(Cbr, 10), Refused},
        {"cbr-next-header-begun.mp3", Cbr + std::string("\xFF\xFB", 2), Refused},
        {"cbr-other-tag-behind.mp3", Cbr + "APETAGEX" + std::string(100, '\0'), Mp3Frames},
        // Audio bytes that happen to read "TAG" where a version 1 tag would begin.
        {"cbr-tag-like-audio.mp3", Cbr.substr(0, Cbr.size() - 128) + "TAG" + Cbr.substr(Cbr.size() - 125), Mp3Frames},
        {"vbr.mp3", Vbr, Mp3Frames},
        {"vbr-last-frame-short.mp3", Shortened(Vbr, 10), Refused},
        {"tagged.mp3", Tagged, Mp3Frames},
        {"tagged-last-frame-short.mp3", Shortened(Tagged, 10), Refused},
        {"vbr-tagged.mp3", VbrTagged, Mp3Frames},
        {"vbr-tagged-last-frame-short.mp3", Shortened(VbrTagged, 10), Refused},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        const std::string Path = Dir.file(C.Name);
        testkit::writeText(Path, C.File);
        const double Seconds = AudioFileDuration(Path);  // never raises, whatever the file
        EXPECT_TRUE(std::isfinite(Seconds) && Seconds >= 0) << Seconds;
        TcbAudioFileReader Reader;
        if (C.MinFrames == Refused) {
            try {
                Reader.Open(Path);
                ADD_FAILURE() << "Open did not raise";
            } catch (const EAudioReadError& E) {
                EXPECT_EQ(E.ErrorCode(), AudioReadCode::MalformedFile) << E.what();
                EXPECT_NE(std::string(E.what()).find("Truncated"), std::string::npos) << E.what();
                EXPECT_NE(std::string(E.what()).find(Path), std::string::npos) << E.what();
            }
            EXPECT_FALSE(Reader.IsOpen());
            continue;
        }
        ASSERT_NO_THROW(Reader.Open(Path));
        std::vector<int16_t> Buffer(Block / 2);
        int64_t Frames = 0;
        for (int32_t Got; (Got = Reader.Read(Buffer.data(), Block)) > 0;)
            Frames += Got / 4;
        EXPECT_GE(Frames, C.MinFrames);
        EXPECT_EQ(Reader.Duration(), TimeOfFrame(Frames));
    }
}

TEST(AudioReadErrorText, KnownCodesHaveTheirTextOthersTheDecodersOrAFallback)
{
    EXPECT_EQ(AudioReadErrorText(0x08000001), "Invalid buffer size.");
    EXPECT_EQ(AudioReadErrorText(AudioReadCode::InvalidArgument), "One of the parameters is invalid.");
    EXPECT_EQ(AudioReadErrorText(0x00040003, "ignored"), "Reached the end of the stream; the sample wasn't updated.");
    EXPECT_EQ(AudioReadErrorText(2, "System error : No such file or directory."), "System error : No such file or directory.");
    EXPECT_EQ(AudioReadErrorText(12345), "Unrecognized error value.");
    EXPECT_EQ(AudioReadErrorText(7, std::string(400, 'x')).size(), 300u);

    EXPECT_NO_THROW(CheckResult(0));
    try {
        CheckResult(0x00040001);  // a success code still raises
        ADD_FAILURE() << "CheckResult did not raise";
    } catch (const EAudioReadError& E) {
        EXPECT_EQ(E.ErrorCode(), 0x00040001);
        EXPECT_STREQ(E.what(), "The asynchronous update is pending.");
    }
}

}  // namespace
