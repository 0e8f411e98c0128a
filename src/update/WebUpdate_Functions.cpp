#include "update/WebUpdate_Functions.h"

#include "lang/Lang.h"
#include "util/KeyValueText.h"
#include "util/TextFile.h"

#include <QMetaObject>
#include <QStringList>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace {

void InitCurl()
{
    // libcurl's global state is set up once, before any thread makes a handle.
    static std::once_flag Once;
    std::call_once(Once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One part of a version: a decimal number (digits only).
int VersionPart(const QString& Part)
{
    bool Ok = false;
    const int Value = Part.trimmed().toInt(&Ok, 10);
    if (!Ok || Part.trimmed().startsWith(u'+') || Part.trimmed().startsWith(u'-'))
        throw EVersionError(QStringLiteral("\"%1\" is not a version number").arg(Part).toStdString());
    return Value;
}

QString JoinUrl(const QString& Base, const QString& Path)
{
    if (Base.endsWith(u'/') && Path.startsWith(u'/'))
        return Base + Path.mid(1);
    return Base + Path;
}

struct TTransfer {
    QByteArray Body;
    qint64 MaxBytes = 0;
    bool TooLarge = false;
    const std::atomic<bool>* Abort = nullptr;
};

size_t WriteCallback(char* Data, size_t Size, size_t Count, void* User)
{
    auto* Transfer = static_cast<TTransfer*>(User);
    const size_t Bytes = Size * Count;
    if (qint64(Transfer->Body.size()) + qint64(Bytes) > Transfer->MaxBytes) {
        Transfer->TooLarge = true;
        return 0;   // ends the transfer
    }
    Transfer->Body.append(Data, qsizetype(Bytes));
    return Bytes;
}

int ProgressCallback(void* User, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* Transfer = static_cast<TTransfer*>(User);
    return Transfer->Abort && Transfer->Abort->load() ? 1 : 0;
}

struct TCurlDeleter {
    void operator()(CURL* Handle) const { curl_easy_cleanup(Handle); }
};

}  // namespace

int CompareVersions(const QString& A, const QString& B)
{
    const QStringList PartsA = A.isEmpty() ? QStringList() : A.split(u'.');
    const QStringList PartsB = B.isEmpty() ? QStringList() : B.split(u'.');
    for (qsizetype I = 0; I < std::max(PartsA.size(), PartsB.size()); ++I) {
        const int PartA = I < PartsA.size() ? VersionPart(PartsA.at(I)) : -1;
        const int PartB = I < PartsB.size() ? VersionPart(PartsB.at(I)) : -1;
        if (PartA != PartB)
            return PartA < PartB ? -1 : 1;
    }
    return 0;
}

bool ValidVersion(const QString& Version)
{
    const QStringList Parts = Version.split(u'.');
    if (Version.isEmpty() || Parts.size() > 4)
        return false;
    for (const QString& Part : Parts) {
        const QString Digits = Part.trimmed();
        if (Digits.isEmpty() || Digits.size() > 5
            || !std::all_of(Digits.begin(), Digits.end(), [](QChar C) { return C >= u'0' && C <= u'9'; }))
            return false;
        if (Digits.toInt() > 65535)
            return false;
    }
    return true;
}

bool IsWebAddress(const QString& Url)
{
    const QUrl Parsed(Url, QUrl::StrictMode);
    const QString Scheme = Parsed.scheme().toLower();
    return Parsed.isValid() && (Scheme == u"http" || Scheme == u"https") && !Parsed.host().isEmpty();
}

QString UpdateBaseUrl(const QString& HomePageUrl)
{
    const QString Mirror = qEnvironmentVariable("ONDRIX_UPDATE_URL").trimmed();
    return Mirror.isEmpty() ? HomePageUrl : Mirror;
}

TVersionFile ParseVersionFile(const QByteArray& Body, const QString& BaseURL)
{
    TVersionFile File;
    File.URL = BaseURL;
    File.DownloadURL = BaseURL;
    for (const QString& Line : SplitTextLines(DecodeText(Body))) {
        if (!Line.contains(u'='))
            continue;
        QString Key;
        QString Value;
        SplitKeyValue(Line, Key, Value);
        Key = Key.trimmed();
        Value = Value.trimmed();
        if (SameKey(Key, QStringLiteral("Version")))
            File.Version = Value;
        else if (SameKey(Key, QStringLiteral("Date")))
            // Shown in the update box: one line of a date's length, whatever the server sends.
            File.Date = OneField(Value).left(TVersionFile::MaxDateLength).trimmed();
        // An address that is not a web address (file:, a program, a script) is never taken.
        else if (SameKey(Key, QStringLiteral("URL")) && IsWebAddress(Value))
            File.URL = Value;
        else if (SameKey(Key, QStringLiteral("DownloadURL")) && IsWebAddress(Value))
            File.DownloadURL = Value;
    }
    return File;
}

THttpResult HttpGet(const QString& Url, const THttpOptions& Options)
{
    THttpResult Result;
    if (!IsWebAddress(Url)) {
        Result.ErrorText = QStringLiteral("\"%1\" is not an http or https address").arg(Url);
        return Result;
    }
    InitCurl();
    std::unique_ptr<CURL, TCurlDeleter> Curl(curl_easy_init());
    if (!Curl) {
        Result.ErrorText = QStringLiteral("cannot create an HTTP client");
        return Result;
    }
    CURL* C = Curl.get();
    TTransfer Transfer;
    Transfer.MaxBytes = Options.MaxBytes;
    Transfer.Abort = Options.Abort;
    const QByteArray UrlBytes = QUrl(Url).toEncoded();
    const QByteArray CAFileBytes = Options.CAFile.toLocal8Bit();
    const QByteArray Agent = Options.UserAgent.toUtf8();
    char CurlError[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(C, CURLOPT_URL, UrlBytes.constData());
    curl_easy_setopt(C, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(C, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(C, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(C, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(C, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(C, CURLOPT_CONNECTTIMEOUT_MS, long(Options.ConnectTimeoutMSecs));
    curl_easy_setopt(C, CURLOPT_TIMEOUT_MS, long(Options.TransferTimeoutMSecs));
    curl_easy_setopt(C, CURLOPT_ERRORBUFFER, CurlError);
    curl_easy_setopt(C, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(C, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(C, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!CAFileBytes.isEmpty())
        curl_easy_setopt(C, CURLOPT_CAINFO, CAFileBytes.constData());
    if (!Agent.isEmpty())
        curl_easy_setopt(C, CURLOPT_USERAGENT, Agent.constData());
    curl_easy_setopt(C, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(Options.MaxBytes));
    curl_easy_setopt(C, CURLOPT_WRITEFUNCTION, WriteCallback);
    curl_easy_setopt(C, CURLOPT_WRITEDATA, &Transfer);
    curl_easy_setopt(C, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(C, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
    curl_easy_setopt(C, CURLOPT_XFERINFODATA, &Transfer);

    const CURLcode Code = curl_easy_perform(C);
    if (Code == CURLE_OK) {
        long Status = 0;
        curl_easy_getinfo(C, CURLINFO_RESPONSE_CODE, &Status);
        Result.Ok = true;
        Result.StatusCode = Status;
        Result.Body = std::move(Transfer.Body);
    } else if (Transfer.TooLarge || Code == CURLE_FILESIZE_EXCEEDED) {
        Result.TooLarge = true;
        Result.ErrorText = QStringLiteral("the answer is longer than %1 bytes").arg(Options.MaxBytes);
    } else {
        Result.ErrorText = CurlError[0] ? QString::fromUtf8(CurlError) : QString::fromUtf8(curl_easy_strerror(Code));
    }
    return Result;
}

void TWebUpdate::ReadVersionFile(const TVersionFile& File)
{
    // A version no program can carry is never offered as a newer one.
    if (!File.Version.isEmpty() && !ValidVersion(File.Version)) {
        ErrorText = FormatMessageText(QStringLiteral("ServerVersionInvalid"),
                                      {OneField(File.Version).left(TVersionFile::MaxDateLength)});
        return;
    }
    ServerVersion = File.Version;
    URL = File.URL;
    DownloadURL = File.DownloadURL;
    Date = File.Date;
    if (CompareVersions(CurrentVersion, ServerVersion) == -1) {
        // Automatically each new version is announced once. A last version seen that is not a
        // version (a hand-edited setting) counts as none seen.
        bool Announced = false;
        try {
            Announced = CompareVersions(LastVersion, ServerVersion) != -1;
        } catch (const EVersionError&) {
        }
        if (Interactive || !Announced)
            Outcome = TOutcome::ShowUpdate;
    } else if (Interactive) {
        Outcome = TOutcome::ShowNoUpdate;
    }
}

void TWebUpdate::Execute(const THttpOptions& Options)
{
    ServerVersion.clear();
    Date.clear();
    ErrorText.clear();
    URL = BaseURL;
    DownloadURL = BaseURL;
    Outcome = TOutcome::Nothing;
    try {
        const THttpResult Answer = HttpGet(JoinUrl(BaseURL, Path), Options);
        // The server was reached: what it sent is no version file, which is not a connection
        // failure.
        if (Answer.TooLarge)
            ErrorText = FormatMessageText(QStringLiteral("ServerAnswerTooLong"), {Options.MaxBytes});
        else if (!Answer.Ok)
            throw std::runtime_error(Answer.ErrorText.toStdString());
        else if (Answer.StatusCode != 200)
            ErrorText = QStringLiteral("Wrong status code ") + QString::number(Answer.StatusCode);
        else
            ReadVersionFile(ParseVersionFile(Answer.Body, BaseURL));
    } catch (const std::exception& Error) {
        ErrorText = GetMessageText(QStringLiteral("ServerError")) + QStringLiteral("\r\n")
                    + GetMessageText(QStringLiteral("Error")) + QStringLiteral(": ") + QString::fromUtf8(Error.what());
    }
    if (!ErrorText.isEmpty())
        Outcome = Interactive ? TOutcome::ShowError : TOutcome::Nothing;
}

TUpdateChecker::TUpdateChecker() = default;

TUpdateChecker::~TUpdateChecker()
{
    FStop = true;
    FThreads.JoinAll();
}

int TUpdateChecker::Running() const
{
    std::lock_guard Lock(FLock);
    return FRunning;
}

bool TUpdateChecker::CheckForUpdates(bool Automatic)
{
    if (Automatic) {
        if (!AutoUpdates || Running() > 0)
            return false;
        const TDateTime Now = Clock();
        // A last check later than now means the clock was set back: it does not hold the
        // check off for the time the clock jumped.
        const bool CheckedToday = LastCheckTime <= Now && Now < LastCheckTime + 1.0;
        if (CheckedToday || Now < ProgramStartTime + 60000.0 / MSecsPerDay)
            return false;
    }
    StartUpdateCheck(!Automatic);
    return true;
}

void TUpdateChecker::StartUpdateCheck(bool Interactive)
{
    LastCheckTime = Clock();
    if (OnChanged)
        OnChanged();
    auto Update = std::make_shared<TWebUpdate>();
    Update->BaseURL = BaseURL;
    Update->Path = VersionFilePath;
    Update->CurrentVersion = CurrentVersion;
    Update->LastVersion = LastVersion;
    Update->Interactive = Interactive;
    {
        std::lock_guard Lock(FLock);
        ++FRunning;
    }
    THttpOptions ThreadOptions = Options;
    ThreadOptions.Abort = &FStop;
    FThreads.Start([this, Update, ThreadOptions] {
        Update->Execute(ThreadOptions);
        QMetaObject::invokeMethod(&FOwner, [this, Update] { Finished(Update); }, Qt::QueuedConnection);
    });
}

void TUpdateChecker::OpenWebAddress(const QString& Url)
{
    if (UI && IsWebAddress(Url))
        UI->OpenUrl(Url);
}

void TUpdateChecker::Finished(const std::shared_ptr<TWebUpdate>& Update)
{
    {
        std::lock_guard Lock(FLock);
        --FRunning;
    }
    // Join the threads that are done (this one posted its last act before saying so).
    FThreads.JoinFinished();

    bool Changed = false;
    switch (Update->Outcome) {
    case TWebUpdate::TOutcome::ShowUpdate:
        if (UI) {
            bool Auto = AutoUpdates;
            const TUpdateChoice Choice = UI->ShowUpdate(
                GetMessageText(QStringLiteral("ServerUpdate")),
                FormatMessageText(QStringLiteral("ServerUpdateAvailable"),
                                  {Update->CurrentVersion, Update->ServerVersion, Update->Date}),
                Auto, GetMessageText(QStringLiteral("ServerUpdateDownload")),
                GetMessageText(QStringLiteral("ServerUpdateOpen")), GetMessageText(QStringLiteral("Cancel")));
            if (Auto != AutoUpdates) {
                AutoUpdates = Auto;
                Changed = true;
            }
            if (Choice == TUpdateChoice::Download)
                OpenWebAddress(Update->DownloadURL);
            else if (Choice == TUpdateChoice::Open)
                OpenWebAddress(Update->URL);
        }
        break;
    case TWebUpdate::TOutcome::ShowNoUpdate:
        if (UI)
            UI->ShowInformation(GetMessageText(QStringLiteral("Information")),
                                GetMessageText(QStringLiteral("ServerNoUpdate")));
        break;
    case TWebUpdate::TOutcome::ShowError:
        if (UI)
            UI->ShowError(GetMessageText(QStringLiteral("Error")), Update->ErrorText);
        break;
    case TWebUpdate::TOutcome::Nothing:
        break;
    }
    // The version seen is kept once its box has closed.
    if (Update->ErrorText.isEmpty() && !Update->ServerVersion.isEmpty() && LastVersion != Update->ServerVersion) {
        LastVersion = Update->ServerVersion;
        Changed = true;
    }
    if (Changed && OnChanged)
        OnChanged();
    if (OnFinished)
        OnFinished(*Update);
}
