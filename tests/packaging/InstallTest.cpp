// The installed program: the build tree installed as a package build installs it (DESTDIR
// staging, prefix /opt/ondrix), then run from the staging folder, where it was never meant to
// be: the programs must find their resources from their own folder, and the desktop files
// must pass the desktop's own validators.

#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string Prefix = "/opt/ondrix";
const std::string AppId = ONDRIX_APP_ID;

bool ContainsText(const std::string& Text, const std::string& Part)
{
    return Text.find(Part) != std::string::npos;
}

// Width and height of a PNG file from its header; 0 x 0 when it is no PNG.
std::pair<unsigned, unsigned> PngSize(const std::string& Path)
{
    std::ifstream File(Path, std::ios::binary);
    unsigned char Header[24] = {};
    File.read(reinterpret_cast<char*>(Header), sizeof(Header));
    const unsigned char Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (!File || !std::equal(Signature, Signature + 8, Header))
        return {0, 0};
    auto BigEndian = [&](int At) { return unsigned(Header[At]) << 24 | unsigned(Header[At + 1]) << 16 | unsigned(Header[At + 2]) << 8 | Header[At + 3]; };
    return {BigEndian(16), BigEndian(20)};
}

class InstalledProgram : public ::testing::Test {
protected:
    // One install for all cases: it copies the programs once.
    static void SetUpTestSuite()
    {
        Dir = std::make_unique<testkit::TempDir>();
        Root = Dir->file("root");
        const testkit::ProcessResult Install = testkit::runProcess(
            {ONDRIX_CMAKE_COMMAND, "--install", ONDRIX_BUILD_DIR, "--prefix", Prefix}, {"DESTDIR=" + Root});
        InstallOutput = Install.out + Install.err;
        Installed = Install.exitCode == 0;
        // Everything the programs write outside their data folder stays in the test's folder.
        fs::create_directories(Dir->file("home/data"));
        fs::create_directories(Dir->file("runtime"));
        fs::permissions(Dir->file("runtime"), fs::perms::owner_all);
        for (const auto& [Name, Value] : {std::pair{"HOME", Dir->file("home")}, {"XDG_DATA_HOME", Dir->file("home/data")},
                                          {"XDG_RUNTIME_DIR", Dir->file("runtime")}, {"ONDRIX_SOCKET", Dir->file("runtime/ondrix.socket")}})
            setenv(Name, Value.c_str(), 1);
    }

    static void TearDownTestSuite() { Dir.reset(); }

    void SetUp() override { ASSERT_TRUE(Installed) << InstallOutput; }

    // A path inside the installed tree, given relative to the prefix.
    static std::string At(const std::string& Relative) { return Root + Prefix + "/" + Relative; }
    static std::string Program(const std::string& Name) { return At("bin/" + Name); }

    static std::unique_ptr<testkit::TempDir> Dir;
    static std::string Root;
    static std::string InstallOutput;
    static bool Installed;
};

std::unique_ptr<testkit::TempDir> InstalledProgram::Dir;
std::string InstalledProgram::Root;
std::string InstalledProgram::InstallOutput;
bool InstalledProgram::Installed = false;

}  // namespace

TEST_F(InstalledProgram, PutsEveryFileWhereTheDesktopLooksForIt)
{
    std::vector<std::string> Expected = {
        "share/ondrix/Ini_Def/Freq.ini",
        "share/ondrix/Language/OndrixEnglish.lng",
        "share/applications/" + AppId + ".desktop",
        "share/metainfo/" + AppId + ".metainfo.xml",
        "share/icons/hicolor/scalable/apps/" + AppId + ".svg",
        "share/man/man1/ondrix.1.gz",
        "share/man/man1/ondrix-scan.1.gz",
        "share/man/man1/ondrixctl.1.gz",
        "lib/systemd/user/ondrix.service",
        "lib/systemd/user/ondrix@.service",
        "share/doc/ondrix/copyright",
        "share/doc/ondrix/changelog.Debian.gz",
    };
    // Every resource the build puts beside the programs (help and what's new included, when
    // they exist) is installed below share/ondrix/.
    const fs::path Resources = fs::path(ONDRIX_SOURCE_DIR) / "resources";
    for (const auto& Entry : fs::recursive_directory_iterator(Resources)) {
        if (Entry.is_regular_file())
            Expected.push_back("share/ondrix/" + fs::relative(Entry.path(), Resources).string());
    }
    for (const std::string& Relative : Expected)
        EXPECT_TRUE(fs::is_regular_file(At(Relative))) << Relative;

    // Only the three programs go to bin/, executable; nothing of the build (libraries,
    // headers, tests, benchmarks) comes along.
    std::set<std::string> Programs;
    for (const auto& Entry : fs::directory_iterator(At("bin"))) {
        Programs.insert(Entry.path().filename().string());
        EXPECT_TRUE((Entry.status().permissions() & fs::perms::others_exec) != fs::perms::none) << Entry.path();
    }
    EXPECT_EQ(Programs, (std::set<std::string>{"ondrix", "ondrix-scan", "ondrixctl"}));
    std::set<std::string> TopLevel;
    for (const auto& Entry : fs::directory_iterator(At("")))
        TopLevel.insert(Entry.path().filename().string());
    EXPECT_EQ(TopLevel, (std::set<std::string>{"bin", "lib", "share"}));
    for (const char* Folder : {"lib", "share"}) {
        for (const auto& Entry : fs::recursive_directory_iterator(At(Folder)))
            EXPECT_NE(Entry.path().extension(), ".a") << Entry.path();
    }

    // The icon is rendered at the sizes desktops look up, each really of its size.
    for (const unsigned Size : {16u, 22u, 24u, 32u, 48u, 64u, 128u, 256u}) {
        const std::string Folder = std::to_string(Size) + "x" + std::to_string(Size);
        EXPECT_EQ(PngSize(At("share/icons/hicolor/" + Folder + "/apps/" + AppId + ".png")), std::pair(Size, Size)) << Folder;
    }
}

TEST_F(InstalledProgram, ProgramsAnswerFromTheInstalledFolder)
{
    struct Case {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Output;
    };
    const Case Cases[] = {
        {{"ondrix", "--version"}, 0, std::string(ONDRIX_VERSION) + "\n"},
        {{"ondrix", "--help"}, 0, "--headless"},
        {{"ondrix-scan", "--help"}, 0, "Exit codes"},
        {{"ondrixctl", "--help"}, 0, "listen"},
        {{"ondrixctl", "sing"}, 2, ""},
    };
    for (const Case& C : Cases) {
        std::vector<std::string> Argv = C.Args;
        Argv[0] = Program(Argv[0]);
        const testkit::ProcessResult R = testkit::runProcess(Argv);
        EXPECT_EQ(R.exitCode, C.ExitCode) << C.Args[0] << " " << C.Args[1] << "\n" << R.err;
        if (C.Args[1] == "--version")
            EXPECT_EQ(R.out, C.Output);
        else
            EXPECT_TRUE(ContainsText(R.out, C.Output)) << R.out;
    }
}

TEST_F(InstalledProgram, ScannerFindsACueWithTheInstalledDefaultToneTable)
{
    // A data folder with only a sample list: the scanner falls back to the frequency table
    // installed under share/ondrix/ and must not copy it into the data folder.
    const std::string Data = Dir->file("scan-data");
    fs::create_directories(Data + "/Ini");
    testkit::writeText(Data + "/Ini/Samples.ini",
                       "[Samples]\r\nDescription=Cue\r\nNumber=0\r\nType=Command\r\nSense=50\r\n"
                       "Command=1,5,9\r\nCommandSpeed=5\r\n");
    testkit::Pcm Broadcast = testkit::makeProgramme(6.0);
    testkit::mixAt(Broadcast, testkit::makeDtmf("159", 0.12, 0.06), 2.0);
    const std::string Wav = Dir->file("broadcast.wav");
    testkit::writeWav(Wav, Broadcast);

    const testkit::ProcessResult R = testkit::runProcess({Program("ondrix-scan"), "/Data=" + Data, Wav});
    EXPECT_EQ(R.exitCode, 0) << R.err;
    std::istringstream Lines(R.out);
    std::string Line;
    std::vector<std::string> Found;
    while (std::getline(Lines, Line))
        Found.push_back(Line.substr(Line.find('\t') + 1));
    EXPECT_EQ(Found, std::vector<std::string>{"1\tCue"}) << R.out << R.err;
    EXPECT_FALSE(fs::exists(Data + "/Ini/Freq.ini"));
}

TEST_F(InstalledProgram, HeadlessMonitorStartsOnAFreshDataFolderAndStopsOnSigterm)
{
    const std::string Data = Dir->file("monitor-data");  // does not exist yet
    const std::string Out = Dir->file("monitor.txt");
    const pid_t Monitor = testkit::spawnProcess({Program("ondrix"), "--headless", "/Data=" + Data}, Out);
    struct Reaper {
        pid_t Pid;
        ~Reaper()
        {
            if (Pid > 0) {
                ::kill(Pid, SIGKILL);
                testkit::waitForProcess(Pid);
            }
        }
    } Guard{Monitor};

    // The defaults installed under share/ondrix/Ini_Def/ are copied into the new data folder,
    // and the automation socket is served.
    const std::string Socket = std::getenv("ONDRIX_SOCKET");
    ASSERT_TRUE(testkit::pollUntil([&] { return fs::exists(Socket); }, 60s)) << testkit::readText(Out);
    EXPECT_EQ(testkit::readText(Data + "/Ini/Freq.ini"), testkit::readText(At("share/ondrix/Ini_Def/Freq.ini")));

    // The installed client talks to the installed monitor.
    const testkit::ProcessResult Version = testkit::runProcess({Program("ondrixctl"), "version"});
    EXPECT_EQ(Version.exitCode, 0) << Version.err;
    std::string Digits = ONDRIX_VERSION;
    std::erase(Digits, '.');
    EXPECT_EQ(Version.out, std::to_string(std::stoi(Digits)) + "\n");

    ::kill(Monitor, SIGTERM);
    int ExitCode = -1;
    testkit::waitForProcess(Monitor, &ExitCode);
    Guard.Pid = -1;
    EXPECT_EQ(ExitCode, 0) << testkit::readText(Out);
    EXPECT_TRUE(fs::is_regular_file(Data + "/Ini/Ondrix.ini"));
    EXPECT_FALSE(fs::exists(Socket));
}

TEST_F(InstalledProgram, ServiceUnitsRunTheInstalledMonitorHeadless)
{
    // The units name the program where the package puts it, not the staging folder.
    struct Case {
        std::string Unit;
        std::vector<std::string> Lines;
    };
    const Case Cases[] = {
        {"ondrix.service", {"ExecStart=" + Prefix + "/bin/ondrix --headless", "Restart=always", "WantedBy=default.target"}},
        {"ondrix@.service",
         {"ExecStart=" + Prefix + "/bin/ondrix --headless \"/Data=%h/.local/share/Corvessa/Ondrix/Feeds/%i\"",
          "Environment=ONDRIX_SOCKET=%t/ondrix-%i.socket", "Restart=always", "WantedBy=default.target"}},
    };
    for (const Case& C : Cases) {
        std::istringstream Text(testkit::readText(At("lib/systemd/user/" + C.Unit)));
        std::set<std::string> Lines;
        std::string Line;
        while (std::getline(Text, Line))
            Lines.insert(Line);
        for (const std::string& Wanted : C.Lines)
            EXPECT_TRUE(Lines.count(Wanted)) << C.Unit << ": " << Wanted;
    }
}

TEST_F(InstalledProgram, InstalledFilesPassTheDesktopValidators)
{
    struct Case {
        std::vector<std::string> Command;
        std::string Complaint;  // what the tool prints for a finding that must not be there
    };
    const std::string Desktop = At("share/applications/" + AppId + ".desktop");
    const std::string Metainfo = At("share/metainfo/" + AppId + ".metainfo.xml");
    std::vector<Case> Cases = {
        {{"desktop-file-validate", Desktop}, Desktop + ":"},
        {{"appstreamcli", "validate", "--no-net", "--no-color", Metainfo}, "\nW:"},
        {{"appstreamcli", "validate", "--no-net", "--no-color", Metainfo}, "\nE:"},
    };
    for (const std::string Page : {"ondrix", "ondrix-scan", "ondrixctl"})
        Cases.push_back({{"mandoc", "-Tlint", "-W", "warning", At("share/man/man1/" + Page + ".1.gz")}, "mandoc:"});
    for (const Case& C : Cases) {
        const testkit::ProcessResult R = testkit::runProcess(C.Command);
        const std::string Said = "\n" + R.out + R.err;
        EXPECT_EQ(R.exitCode, 0) << C.Command.back() << Said;
        EXPECT_FALSE(ContainsText(Said, C.Complaint)) << C.Command.back() << Said;
    }
}
