#pragma once
// The update check: the publisher's version file is fetched over HTTP(S), its version compared
// with the program's, and the operator offered the new version or the product page.
//
// Automatically at most once a day (and not in the program's first minute), only while
// Check_AutoUpdates is on, and each new version is announced automatically once; on demand
// always, with a box for every outcome. The fetch runs on a thread of its own with connection
// and transfer time-outs and a 64 KB limit; only http and https addresses are ever fetched or
// opened. Boxes, the clock and the settings it keeps belong to the owner's (main) thread.
//
// The base address is HomePageUrl, or the environment variable ONDRIX_UPDATE_URL when it is set
// (a station's own mirror; tests).

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "util/DateTime.h"
#include "util/WorkerThreads.h"

// A version part that is not a decimal number.
class EVersionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Compares two dot-separated versions part by part: -1 when A is older, 0 equal, 1 newer. A
// string out of parts counts -1 for every further part, so 1.5.2.0 is newer than 1.5.2. Raises
// EVersionError for a part that is not a decimal number.
int CompareVersions(const QString& A, const QString& B);

// Whether a text is a version a program can carry: one to four parts, each a decimal number
// from 0 to 65535 (blanks around a part allowed), as "a.b.c.d" of a version record.
bool ValidVersion(const QString& Version);

// Whether a text is an absolute http or https address with a host.
bool IsWebAddress(const QString& Url);

// The base address of the update check: $ONDRIX_UPDATE_URL when set, else HomePageUrl.
QString UpdateBaseUrl(const QString& HomePageUrl);

// The published version file's keys.
struct TVersionFile {
    QString Version;
    QString URL;            // only http(s) addresses are taken; else the base address
    QString DownloadURL;    // likewise
    QString Date;           // one line of at most MaxDateLength characters (the rest is cut)
    static constexpr int MaxDateLength = 40;
};
// Reads "Key = Value" lines (split at the first "=", blanks trimmed, keys without regard to case).
TVersionFile ParseVersionFile(const QByteArray& Body, const QString& BaseURL);

struct THttpOptions {
    int ConnectTimeoutMSecs = 10000;
    int TransferTimeoutMSecs = 30000;
    qint64 MaxBytes = 64 * 1024;   // a longer answer is refused
    QString CAFile;                // trusted authorities beside the system's store
    QString UserAgent;
    const std::atomic<bool>* Abort = nullptr;
};

struct THttpResult {
    bool Ok = false;        // an answer came (of any status)
    long StatusCode = 0;
    QByteArray Body;
    QString ErrorText;      // why no answer came
    bool TooLarge = false;  // the answer was longer than MaxBytes and refused
};

// GET over HTTP or HTTPS (certificates verified, TLS 1.2 or newer), redirects followed only to
// http(s) addresses.
THttpResult HttpGet(const QString& Url, const THttpOptions& Options);

// One check; its work runs on its own thread, its outcome is shown on the owner's.
class TWebUpdate {
public:
    QString ServerVersion;
    QString URL;
    QString Date;
    QString DownloadURL;
    QString ErrorText;
    QString BaseURL;
    QString Path;
    QString CurrentVersion;
    QString LastVersion;      // the last version seen when the check started
    bool Interactive = false;

    enum class TOutcome { Nothing, ShowUpdate, ShowNoUpdate, ShowError };
    TOutcome Outcome = TOutcome::Nothing;

    // Fetches and reads the version file and decides which box (if any) to show.
    void Execute(const THttpOptions& Options);

private:
    // What the server's version file means for this program.
    void ReadVersionFile(const TVersionFile& File);
};

// The buttons of the update box.
enum class TUpdateChoice { Download, Open, Cancel };

// The boxes of the update check, shown by the window on the main thread.
class TWebUpdateUI {
public:
    virtual ~TWebUpdateUI() = default;
    // The update box: caption, text, the check box "Check_AutoUpdates" (shown with AutoUpdates,
    // handed back as the operator left it), and the buttons Download, Open and Cancel.
    virtual TUpdateChoice ShowUpdate(const QString& Caption, const QString& Text, bool& AutoUpdates,
                                     const QString& DownloadCaption, const QString& OpenCaption,
                                     const QString& CancelCaption) = 0;
    virtual void ShowInformation(const QString& Caption, const QString& Text) = 0;
    virtual void ShowError(const QString& Caption, const QString& Text) = 0;
    // Opens a web address with the desktop's handler (only ever given http(s) addresses).
    virtual void OpenUrl(const QString& Url) = 0;
};

class TUpdateChecker {
public:
    TUpdateChecker();
    // Breaks off checks under way and waits for their threads.
    ~TUpdateChecker();
    TUpdateChecker(const TUpdateChecker&) = delete;
    TUpdateChecker& operator=(const TUpdateChecker&) = delete;

    static inline const QString VersionFilePath = QStringLiteral("/version/ondrix.ver");

    QString BaseURL;               // UpdateBaseUrl(HomePageUrl)
    QString CurrentVersion;        // VersionText
    TDateTime ProgramStartTime = 0;
    TDateTime LastCheckTime = 0;   // WebUpdate_LastCheckTime
    QString LastVersion;           // WebUpdate_LastVersion
    bool AutoUpdates = true;       // Check_AutoUpdates_Checked
    THttpOptions Options;
    TWebUpdateUI* UI = nullptr;
    std::function<TDateTime()> Clock = [] { return Now(); };
    // After LastCheckTime, LastVersion or AutoUpdates changed (to be stored).
    std::function<void()> OnChanged;
    // After a check has ended and its box (if any) has closed.
    std::function<void(const TWebUpdate&)> OnFinished;

    // Automatic: called every second; starts a check when Check_AutoUpdates is on, a day has
    // passed since the last one and the program has run a minute. Not automatic: starts one
    // now. True when a check started.
    bool CheckForUpdates(bool Automatic);
    // Starts a check at once; LastCheckTime := now.
    void StartUpdateCheck(bool Interactive);
    // Checks under way.
    int Running() const;

private:
    void Finished(const std::shared_ptr<TWebUpdate>& Update);
    void OpenWebAddress(const QString& Url);

    QObject FOwner;   // lives on the owner's thread; the threads report through it
    std::atomic<bool> FStop{false};
    mutable std::mutex FLock;
    int FRunning = 0;
    TWorkerThreads FThreads;  // last: joined before the members their jobs use go
};
