// File lengths from WAV and MP3 headers, the decoder's length as fallback, and files that are
// short, empty or hostile.

#include "audio/MPEGaudio.h"
#include "audio/WAVFile.h"
#include "audio/WaveInfo.h"

#include "helpers/TestFiles.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <sys/stat.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void PutLE(Bytes& B, uint32_t V, int Count)
{
    for (int I = 0; I < Count; ++I)
        B.push_back(uint8_t(V >> (8 * I)));
}
void PutBE32(Bytes& B, size_t At, uint32_t V)
{
    for (int I = 0; I < 4; ++I)
        B[At + size_t(I)] = uint8_t(V >> (24 - 8 * I));
}
void PutText(Bytes& B, const std::string& Text)
{
    B.insert(B.end(), Text.begin(), Text.end());
}

// An ID3v2 tag of TotalSize bytes, header included.
Bytes Id3v2Tag(uint32_t TotalSize, uint8_t Flags = 0)
{
    Bytes B = {'I', 'D', '3', 3, 0, Flags};
    const uint32_t Size = TotalSize - 10;
    for (int Shift : {21, 14, 7, 0})
        B.push_back(uint8_t((Size >> Shift) & 0x7F));
    B.resize(TotalSize, 0);
    return B;
}

Bytes Id3v1Tag()
{
    Bytes B;
    PutText(B, "TAG");
    B.resize(128, ' ');
    return B;
}

// MPEG 1 Layer III, 128 kbit/s, 44100 Hz, stereo, no padding: 417-byte frames.
constexpr uint8_t FrameHeader[4] = {0xFF, 0xFB, 0x90, 0x00};
constexpr size_t FrameBytes = 417;

// AudioBytes of back-to-back frames (the last one cut where the audio ends).
Bytes CbrFrames(size_t AudioBytes)
{
    Bytes B(AudioBytes, 0);
    for (size_t At = 0; At + 4 <= AudioBytes; At += FrameBytes)
        std::copy(std::begin(FrameHeader), std::end(FrameHeader), B.begin() + long(At));
    return B;
}

// A variable-bit-rate file's first frame carrying a Xing (or VBRI) header, then frames.
Bytes VbrFrames(const char* Tag, uint32_t FrameCount, uint32_t ByteCount)
{
    Bytes B = CbrFrames(20 * FrameBytes);
    const size_t At = 36;  // MPEG 1 stereo: behind the header and 32 bytes of side data
    std::copy(Tag, Tag + 4, B.begin() + long(At));
    if (std::string(Tag) == "Xing") {
        PutBE32(B, At + 4, 0x0F);
        PutBE32(B, At + 8, FrameCount);
        PutBE32(B, At + 12, ByteCount);
        B[At + 119] = 57;
    } else {
        B[At + 9] = 75;
        PutBE32(B, At + 10, ByteCount);
        PutBE32(B, At + 14, FrameCount);
    }
    return B;
}

Bytes Concat(std::initializer_list<Bytes> Parts)
{
    Bytes B;
    for (const Bytes& P : Parts)
        B.insert(B.end(), P.begin(), P.end());
    return B;
}

// A PCM WAV header with any format chunk size (16 or 18) and explicit fields.
Bytes WavHeader(uint32_t FormatSize, uint16_t Tag, uint16_t Channels, uint32_t Rate, uint16_t Bits, uint32_t DataBytes,
                uint32_t RiffSize)
{
    Bytes B;
    PutText(B, "RIFF");
    PutLE(B, RiffSize, 4);
    PutText(B, "WAVEfmt ");
    PutLE(B, FormatSize, 4);
    PutLE(B, Tag, 2);
    PutLE(B, Channels, 2);
    PutLE(B, Rate, 4);
    PutLE(B, Rate * Channels * Bits / 8, 4);
    PutLE(B, uint32_t(Channels * Bits / 8), 2);
    PutLE(B, Bits, 2);
    if (FormatSize == 18)
        PutLE(B, 0, 2);
    PutText(B, "data");
    PutLE(B, DataBytes, 4);
    return B;
}

class FileInfo : public ::testing::Test {
protected:
    testkit::TempDir Dir;
    std::string Write(const std::string& Name, const Bytes& Content)
    {
        const std::string Path = Dir.file(Name);
        testkit::writeBytes(Path, Content);
        return Path;
    }
    std::string WriteWav(const std::string& Name, size_t Frames, int Rate = 44100, int Channels = 2)
    {
        testkit::Pcm Pcm;
        Pcm.rate = Rate;
        Pcm.channels = Channels;
        Pcm.samples.assign(Frames * size_t(Channels), 100);
        const std::string Path = Dir.file(Name);
        testkit::writeWav(Path, Pcm);
        return Path;
    }
};

TEST_F(FileInfo, CanonicalWavLengthComesFromItsHeader)
{
    const std::string Path = WriteWav("one.wav", 176444 / 4);  // data chunk of 176444 bytes
    TWAVFile Wav;
    ASSERT_TRUE(Wav.ReadFromFile(Path));
    EXPECT_TRUE(Wav.Valid());
    EXPECT_EQ(Wav.Channels(), 2);
    EXPECT_EQ(Wav.SampleRate(), 44100);
    EXPECT_EQ(Wav.BitsPerSample(), 16);
    EXPECT_EQ(Wav.FileSize(), 176444 + 44);
    EXPECT_EQ(Wav.DataSize(), 176444);
    EXPECT_DOUBLE_EQ(Wav.Duration(), 1.0);
    EXPECT_DOUBLE_EQ(AudioFileDuration(Path), 1.0);
}

// Rates above 65535 Hz do not fit the 16-bit rate field; the length still uses the whole rate.
TEST_F(FileInfo, HighRateWavLengthUsesTheWholeRate)
{
    for (int Rate : {88200, 96000, 192000}) {
        SCOPED_TRACE(Rate);
        const std::string Path = WriteWav("high.wav", size_t(Rate) / 2, Rate);
        TWAVFile Wav;
        ASSERT_TRUE(Wav.ReadFromFile(Path));
        EXPECT_TRUE(Wav.Valid());
        // Less the 44 header bytes the formula takes from the data size.
        const double Seconds = 0.5 - 44.0 / (Rate * 4);
        EXPECT_DOUBLE_EQ(Wav.Duration(), Seconds);
        EXPECT_DOUBLE_EQ(AudioFileDuration(Path), Seconds);
    }
}

TEST_F(FileInfo, WavWithAnEighteenByteFormatChunkTakesItsSizeFromTheRiffSize)
{
    Bytes File = WavHeader(18, 1, 1, 8000, 16, 16000, 0);
    File.resize(File.size() + 16000, 0);
    const uint32_t Riff = uint32_t(File.size() - 8);
    for (int I = 0; I < 4; ++I)
        File[size_t(4 + I)] = uint8_t(Riff >> (8 * I));
    const std::string Path = Write("eighteen.wav", File);
    TWAVFile Wav;
    ASSERT_TRUE(Wav.ReadFromFile(Path));
    EXPECT_TRUE(Wav.Valid());
    EXPECT_EQ(Wav.FileSize(), int32_t(File.size()));
    EXPECT_EQ(Wav.DataSize(), Wav.FileSize());
    EXPECT_DOUBLE_EQ(Wav.Duration(), (double(File.size()) - 44) / 8000 / 16 / 1 * 8);
}

TEST_F(FileInfo, WavsTheHeaderDoesNotDescribeAreMeasuredByDecoding)
{
    // Three channels and floating point are outside what the header reader knows; a
    // streamed WAV's unknown sizes (all ones) would give a negative length.
    const std::string ThreeChannels = WriteWav("three.wav", 22050, 44100, 3);
    const std::string Float = Dir.file("float.wav");
    {
        SF_INFO Info{};
        Info.samplerate = 32000;
        Info.channels = 2;
        Info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* Out = sf_open(Float.c_str(), SFM_WRITE, &Info);
        ASSERT_NE(Out, nullptr);
        std::vector<float> Samples(2 * 48000, 0.25f);
        sf_writef_float(Out, Samples.data(), 48000);
        sf_close(Out);
    }
    Bytes Streamed = WavHeader(16, 1, 2, 44100, 16, 0xFFFFFFFF, 0xFFFFFFFF);
    Streamed.resize(44 + 4 * 44100, 0);
    const std::string StreamedPath = Write("streamed.wav", Streamed);

    struct Case { std::string Path; bool HeaderValid; double Seconds; };
    for (const Case& C : {Case{ThreeChannels, false, 0.5}, Case{Float, false, 1.5}, Case{StreamedPath, true, 1.0}}) {
        SCOPED_TRACE(C.Path);
        TWAVFile Wav;
        EXPECT_TRUE(Wav.ReadFromFile(C.Path));
        EXPECT_EQ(Wav.Valid(), C.HeaderValid);
        EXPECT_NEAR(AudioFileDuration(C.Path), C.Seconds, 1e-9);
        EXPECT_NEAR(MediaLength(C.Path), C.Seconds, 1e-9);
    }
}

TEST_F(FileInfo, CbrMp3BehindTagsIsMeasuredFromItsFirstFrame)
{
    const Bytes File = Concat({Id3v2Tag(1000), CbrFrames(160000), Id3v1Tag()});
    const std::string Path = Write("cbr.mp3", File);
    TMPEGaudio Mpeg;
    ASSERT_TRUE(Mpeg.ReadFromFile(Path));
    EXPECT_TRUE(Mpeg.ID3v2().Exists());
    EXPECT_EQ(Mpeg.ID3v2().TagSize(), 1000);
    EXPECT_TRUE(Mpeg.ID3v1().Exists());
    EXPECT_EQ(Mpeg.FileLength(), int32_t(File.size()));
    EXPECT_TRUE(Mpeg.Frame().Found);
    EXPECT_EQ(Mpeg.Frame().Position, 0);
    EXPECT_EQ(Mpeg.Frame().Size, FrameBytes);
    EXPECT_FALSE(Mpeg.VBR().Found);
    EXPECT_EQ(Mpeg.BitRate(), 128);
    EXPECT_TRUE(Mpeg.Valid());
    EXPECT_DOUBLE_EQ(Mpeg.Duration(), 10.0);

    // The extension is matched without regard to case.
    const std::string Upper = Dir.file("CBR.MP3");
    std::filesystem::copy_file(Path, Upper);
    for (const std::string& P : {Path, Upper})
        EXPECT_DOUBLE_EQ(AudioFileDuration(P), 10.0) << P;
}

TEST_F(FileInfo, VbrHeadersGiveTheLengthFromTheirFrameCount)
{
    struct Case { const char* Tag; uint32_t Frames, ByteCount; double Seconds, BitRate; uint8_t Quality; };
    for (const Case& C : {Case{"Xing", 383, 160000, 144.0 * 383 * 8 / 44100, 128, 57},
                          Case{"VBRI", 1000, 200000, 144.0 * 1000 * 8 / 44100, 61, 75}}) {
        SCOPED_TRACE(C.Tag);
        const std::string Path = Write("vbr.mp3", Concat({VbrFrames(C.Tag, C.Frames, C.ByteCount), Id3v1Tag()}));
        TMPEGaudio Mpeg;
        ASSERT_TRUE(Mpeg.ReadFromFile(Path));
        EXPECT_TRUE(Mpeg.VBR().Found);
        EXPECT_EQ(std::string(Mpeg.VBR().Tag.data(), 4), C.Tag);
        EXPECT_EQ(Mpeg.VBR().FrameCount, int32_t(C.Frames));
        EXPECT_EQ(Mpeg.VBR().Quality, C.Quality);
        EXPECT_DOUBLE_EQ(Mpeg.BitRate(), C.BitRate);
        EXPECT_TRUE(Mpeg.Valid());
        EXPECT_DOUBLE_EQ(AudioFileDuration(Path), C.Seconds);
    }
    EXPECT_NEAR(144.0 * 383 * 8 / 44100, 10.005, 0.001);
}

TEST_F(FileInfo, WavHeaderIsRecognisedOnlyWhenEveryFieldFits)
{
    struct Case { const char* Name; Bytes Header; bool Valid; };
    const Bytes Canonical = WavHeader(16, 1, 2, 44100, 16, 4000, 4036);
    const auto With = [&Canonical](size_t At, const std::string& Text) {
        Bytes B = Canonical;
        std::copy(Text.begin(), Text.end(), B.begin() + long(At));
        return B;
    };
    const std::vector<Case> Cases = {
        {"canonical", Canonical, true},
        {"mono, 8 bits", WavHeader(16, 1, 1, 8000, 8, 4000, 4036), true},
        {"floating-point format tag", WavHeader(16, 3, 2, 44100, 32, 4000, 4036), false},
        {"three channels", WavHeader(16, 1, 3, 44100, 16, 4000, 4036), false},
        {"no channels", WavHeader(16, 1, 0, 44100, 16, 4000, 4036), false},
        {"format chunk of 20 bytes", WavHeader(20, 1, 2, 44100, 16, 4000, 4036), false},
        {"not RIFF", With(0, "RIFX"), false},
        {"not WAVE", With(8, "AVI "), false},
        {"no format chunk", With(12, "LIST"), false},
        {"another chunk where the data should be", With(36, "LIST"), false},
        {"data two bytes later", With(36, "\0\0da"), true},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        TWAVFile Wav;
        ASSERT_TRUE(Wav.ReadFromFile(Write("header.wav", Concat({C.Header, Bytes(4000)}))));
        EXPECT_EQ(Wav.Valid(), C.Valid);
        if (!C.Valid) {
            EXPECT_EQ(Wav.Duration(), 0.0);
        }
    }
}

// Frame lengths and lengths in seconds for each MPEG version and layer, with the
// variable-bit-rate header where each of them puts it.
TEST_F(FileInfo, FrameArithmeticOfEveryVersionAndLayer)
{
    struct Case {
        const char* Name;
        std::array<uint8_t, 4> Header;
        size_t Length;         // expected frame length in bytes
        const char* VbrTag;    // nullptr: constant bit rate
        size_t VbrAt;          // where the VBR header starts behind the frame start
        uint32_t VbrFrames;
        double Seconds, BitRate;
    };
    const Case Cases[] = {
        // 48 * 384000 / 44100 = 417.9, plus 4 bytes of Layer I padding.
        {"MPEG 1 Layer I padded", {0xFF, 0xFF, 0xC2, 0x00}, 421, nullptr, 0, 0, 30 * 421 * 8 / 384000.0, 384},
        {"MPEG 1 Layer II", {0xFF, 0xFD, 0xA4, 0x00}, 576, nullptr, 0, 0, 30 * 576 * 8 / 192000.0, 192},
        {"MPEG 1 Layer III padded", {0xFF, 0xFB, 0x92, 0x00}, 418, nullptr, 0, 0, 30 * 418 * 8 / 128000.0, 128},
        {"MPEG 2 Layer I", {0xFF, 0xF7, 0x10, 0x00}, 34, nullptr, 0, 0, 30 * 34 * 8 / 32000.0, 32},
        {"MPEG 1 Layer III mono, Xing", {0xFF, 0xFB, 0x90, 0xC0}, 417, "Xing", 21, 383, 144.0 * 383 * 8 / 44100, 128},
        {"MPEG 2 Layer III mono, Xing", {0xFF, 0xF3, 0x80, 0xC0}, 208, "Xing", 13, 100, 72.0 * 100 * 8 / 22050, 64},
        {"MPEG 2 Layer III stereo, Xing", {0xFF, 0xF3, 0x80, 0x00}, 208, "Xing", 21, 100, 72.0 * 100 * 8 / 22050, 64},
        {"MPEG 2.5 Layer II, VBRI", {0xFF, 0xE5, 0x84, 0x00}, 768, "VBRI", 21, 50, 144.0 * 50 * 8 / 12000, 64},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        Bytes Frames(30 * C.Length, 0);
        for (size_t At = 0; At < Frames.size(); At += C.Length)
            std::copy(C.Header.begin(), C.Header.end(), Frames.begin() + long(At));
        if (C.VbrTag) {
            std::copy_n(C.VbrTag, 4, Frames.begin() + long(C.VbrAt));
            const uint32_t ByteCount = uint32_t(C.Length) * C.VbrFrames;
            if (std::string(C.VbrTag) == "Xing") {
                PutBE32(Frames, C.VbrAt + 8, C.VbrFrames);
                PutBE32(Frames, C.VbrAt + 12, ByteCount);
            } else {
                PutBE32(Frames, C.VbrAt + 10, ByteCount);
                PutBE32(Frames, C.VbrAt + 14, C.VbrFrames);
            }
        }
        TMPEGaudio Mpeg;
        ASSERT_TRUE(Mpeg.ReadFromFile(Write("frames.mp3", Concat({Frames, Id3v1Tag()}))));
        ASSERT_TRUE(Mpeg.Frame().Found);
        EXPECT_EQ(Mpeg.Frame().Size, C.Length);
        EXPECT_EQ(Mpeg.VBR().Found, C.VbrTag != nullptr);
        EXPECT_DOUBLE_EQ(Mpeg.Duration(), C.Seconds);
        EXPECT_DOUBLE_EQ(Mpeg.BitRate(), C.BitRate);
        EXPECT_TRUE(Mpeg.Valid());
    }
}

TEST(MPEGFrameHeader, EveryReservedFieldIsRefused)
{
    struct Case { const char* Name; Bytes Header; bool IsHeader; };
    const Case Cases[] = {
        {"MPEG 1 Layer III", {0xFF, 0xFB, 0x90, 0x00}, true},
        {"MPEG 2.5", {0xFF, 0xE3, 0x90, 0x00}, true},
        {"no sync byte", {0xFE, 0xFB, 0x90, 0x00}, false},
        {"incomplete sync", {0xFF, 0xDB, 0x90, 0x00}, false},
        {"reserved version", {0xFF, 0xEB, 0x90, 0x00}, false},
        {"reserved layer", {0xFF, 0xF9, 0x90, 0x00}, false},
        {"free bit rate", {0xFF, 0xFB, 0x00, 0x00}, false},
        {"bad bit rate", {0xFF, 0xFB, 0xF0, 0x00}, false},
        {"reserved sample rate", {0xFF, 0xFB, 0x9C, 0x00}, false},
        {"reserved emphasis", {0xFF, 0xFB, 0x90, 0x02}, false},
        {"cut short", {0xFF, 0xFB, 0x90}, false},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(TMPEGaudio::IsFrameHeader(C.Header, 0), C.IsHeader) << C.Name;
}

TEST_F(FileInfo, FrameIsSoughtInTheMiddleWhenTheStartHoldsNone)
{
    Bytes Junk(8000, 0x11);
    const Bytes File = Concat({Junk, CbrFrames(8000), Junk, Id3v1Tag()});
    const std::string Path = Write("middle.mp3", File);
    TMPEGaudio Mpeg;
    ASSERT_TRUE(Mpeg.ReadFromFile(Path));
    EXPECT_TRUE(Mpeg.Frame().Found);
    // Positions count from the start of the second block, the middle of the file.
    const size_t Middle = File.size() / 2;
    EXPECT_EQ(Mpeg.Frame().Position, int32_t((FrameBytes - (Middle - 8000) % FrameBytes) % FrameBytes));
}

TEST_F(FileInfo, Id3v2SizeIsCheckedAgainstTheFile)
{
    struct Case { Bytes File; bool Exists; int32_t TagSize; };
    Bytes Huge = Id3v2Tag(100);
    Huge[6] = 0x80;  // the top bit is taken as it is: far beyond this file
    for (const Case& C : {Case{Concat({Id3v2Tag(100), Bytes(50)}), true, 100},
                          Case{Concat({Id3v2Tag(100, 0x10), Bytes(50)}), true, 110},
                          Case{Huge, true, 0}, Case{Bytes(20, 'x'), false, 0}}) {
        TID3v2 Tag;
        EXPECT_TRUE(Tag.ReadFromFile(Write("tag.mp3", C.File)));
        EXPECT_EQ(Tag.Exists(), C.Exists);
        EXPECT_EQ(Tag.TagSize(), C.TagSize);
    }
    TID3v2 Short;
    EXPECT_FALSE(Short.ReadFromFile(Write("short.mp3", Bytes(9, 'I'))));
}

TEST_F(FileInfo, RealMp3sFromAnEncoder)
{
    testkit::Pcm Pcm;
    Pcm.appendTones(10.0, {440, 3000});
    const std::string Wav = Dir.file("tone.wav");
    testkit::writeWav(Wav, Pcm);
    for (const char* Options : {"-b 128 --cbr", "-V 4", "-b 128 --cbr --add-id3v2 --id3v2-only --tt Title", "-b 128 -t"}) {
        SCOPED_TRACE(Options);
        const std::string Mp3 = Dir.file("tone.mp3");
        testkit::encodeMp3(Wav, Mp3, Options);
        EXPECT_NEAR(AudioFileDuration(Mp3), 10.0, 0.1);
        EXPECT_NEAR(MediaLength(Mp3), 10.0, 0.06);
    }
}

TEST_F(FileInfo, MissingEmptyShortAndForeignFilesGiveZero)
{
    const std::string Empty = Write("empty.wav", {});
    const std::string ShortMp3 = Write("short.mp3", CbrFrames(100));
    const std::string Text = Write("notes.mp3", Bytes(4000, 'a'));
    std::filesystem::create_directory(Dir.file("folder.wav"));
    ASSERT_EQ(::mkfifo(Dir.file("pipe.mp3").c_str(), 0600), 0);
    TMPEGaudio Mpeg;
    EXPECT_FALSE(Mpeg.ReadFromFile(ShortMp3));  // no room for a version 1 tag
    EXPECT_FALSE(Mpeg.Valid());
    for (const std::string& Path : {Dir.file("missing.mp3"), Empty, ShortMp3, Text, Dir.file("folder.wav"), Dir.file("pipe.mp3")}) {
        EXPECT_EQ(AudioFileDuration(Path), 0.0) << Path;
        EXPECT_EQ(MediaLength(Path), 0.0) << Path;
    }
}

// Every prefix of a tagged MP3, a VBR MP3 and a WAV, and frames whose confirming header would
// lie past the bytes read: each gives a finite length of zero or more, and (under the address
// sanitizer) no read outside what the file gave.
TEST_F(FileInfo, CutAndHostileHeadersNeverReadOutsideTheFile)
{
    struct Whole { const char* Name; Bytes File; };
    const std::vector<Whole> Wholes = {
        {"cut.mp3", Concat({Id3v2Tag(1000), CbrFrames(6000), Id3v1Tag()})},
        {"cut.mp3", Concat({VbrFrames("Xing", 0xFFFFFFFF, 0x7FFFFFFF), Id3v1Tag()})},
        {"cut.mp3", Concat({VbrFrames("VBRI", 1, 0xFFFFFFFF), Id3v1Tag()})},
        {"cut.wav", Concat({WavHeader(16, 1, 2, 44100, 16, 4000, 4036), Bytes(4000, 1)})},
    };
    for (const Whole& W : Wholes) {
        // Byte by byte around the tag and header boundaries (10, 44, 128 bytes), then sparse.
        for (size_t Cut = 0; Cut <= W.File.size(); Cut += (Cut < 12 || (Cut >= 40 && Cut < 48) || (Cut >= 120 && Cut < 136)) ? 1 : 37) {
            const Bytes Part(W.File.begin(), W.File.begin() + long(Cut));
            const double Seconds = AudioFileDuration(Write(W.Name, Part));
            EXPECT_TRUE(std::isfinite(Seconds) && Seconds >= 0) << W.Name << " cut at " << Cut << ": " << Seconds;
        }
    }
    // A header at the last scanned position whose frame ends past the block, and a Xing
    // tag that starts right at the end of the file.
    Bytes Late(1729 + 4, 0);
    std::copy(std::begin(FrameHeader), std::end(FrameHeader), Late.begin() + 1729);
    TMPEGaudio Mpeg;
    ASSERT_TRUE(Mpeg.ReadFromFile(Write("late.mp3", Concat({Late, Bytes(200), Id3v1Tag()}))));
    EXPECT_FALSE(Mpeg.Frame().Found);
    // MPEG 1 Layer III, 32 kbit/s, 48000 Hz: 96-byte frames, so a file of 140 bytes holds two
    // headers but only the start of the Xing header of the first frame.
    Bytes Small(140, 0);
    for (size_t At : {size_t(0), size_t(96)}) {
        Small[At] = 0xFF;
        Small[At + 1] = 0xFB;
        Small[At + 2] = 0x14;
    }
    std::copy_n("Xing", 4, Small.begin() + 36);
    PutBE32(Small, 44, 5000);
    ASSERT_TRUE(Mpeg.ReadFromFile(Write("small.mp3", Small)));
    EXPECT_TRUE(Mpeg.Frame().Found);
    EXPECT_EQ(Mpeg.Frame().Size, 96);
    EXPECT_FALSE(Mpeg.VBR().Found);
}

}  // namespace
