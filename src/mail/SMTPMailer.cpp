#include "mail/SMTPMailer.h"

#include "mail/MailMessage.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QStringList>

#include <curl/curl.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace {

void InitCurl()
{
    // libcurl's global state is set up once, before any thread makes a handle.
    static std::once_flag Once;
    std::call_once(Once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What one session saw, filled by libcurl's callbacks on the sending thread.
struct TSession {
    QByteArray Message;
    qsizetype Sent = 0;
    const std::atomic<bool>* Abort = nullptr;

    QByteArray PendingText;       // text lines of a multi-line reply so far
    bool Sending = false;         // MAIL FROM has gone out: the mail itself is being sent
    int ErrorCode = 0;            // last refusing reply (4xx, 5xx)
    QByteArray ErrorText;
    bool ErrorWhileSending = false;

    void ReplyLine(const QByteArray& Line)
    {
        if (Line.size() < 3)
            return;
        bool Ok = false;
        const int Code = Line.left(3).toInt(&Ok);
        if (!Ok)
            return;
        const QByteArray Text = Line.mid(4).trimmed();
        PendingText += (PendingText.isEmpty() || Text.isEmpty() ? "" : " ") + Text;
        if (Line.size() > 3 && Line.at(3) == '-')
            return;   // more lines of this reply follow
        if (Code >= 400) {
            ErrorCode = Code;
            ErrorText = PendingText;
            ErrorWhileSending = Sending;
        }
        PendingText.clear();
    }

    void CommandSent(const QByteArray& Command)
    {
        // Only the verb is looked at: a login's arguments are never kept.
        const QByteArray Verb = Command.left(Command.indexOf(' ')).trimmed().toUpper();
        if (Verb == "MAIL")
            Sending = true;
    }
};

int DebugCallback(CURL*, curl_infotype Type, char* Data, size_t Size, void* User)
{
    auto* Session = static_cast<TSession*>(User);
    const QByteArray Chunk(Data, qsizetype(Size));
    if (Type == CURLINFO_HEADER_IN) {
        for (const QByteArray& Line : Chunk.split('\n'))
            if (!Line.trimmed().isEmpty())
                Session->ReplyLine(Line.endsWith('\r') ? Line.chopped(1) : Line);
    } else if (Type == CURLINFO_HEADER_OUT) {
        Session->CommandSent(Chunk);
    }
    return 0;
}

size_t ReadCallback(char* Buffer, size_t Size, size_t Count, void* User)
{
    auto* Session = static_cast<TSession*>(User);
    const size_t Room = Size * Count;
    const size_t Left = size_t(Session->Message.size() - Session->Sent);
    const size_t Part = std::min(Room, Left);
    std::memcpy(Buffer, Session->Message.constData() + Session->Sent, Part);
    Session->Sent += qsizetype(Part);
    return Part;
}

int ProgressCallback(void* User, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* Session = static_cast<TSession*>(User);
    return Session->Abort && Session->Abort->load() ? 1 : 0;
}

// The host part of the server's address: a name or IPv4 address as it stands, an IPv6 address
// in brackets; empty when the text could change the address's meaning ("/", "@", blanks ...).
QString UrlHost(const QString& Host)
{
    static const QRegularExpression Name(QStringLiteral("^[A-Za-z0-9._-]+$"));
    static const QRegularExpression IPv6(QStringLiteral("^\\[?([0-9A-Fa-f:.]+)\\]?$"));
    if (Name.match(Host).hasMatch())
        return Host;
    const auto Match = IPv6.match(Host);
    if (Match.hasMatch() && Match.captured(1).contains(u':'))
        return u'[' + Match.captured(1) + u']';
    return {};
}

struct TCurlDeleter {
    void operator()(CURL* Handle) const { curl_easy_cleanup(Handle); }
};
struct TSlistDeleter {
    void operator()(curl_slist* List) const { curl_slist_free_all(List); }
};

}  // namespace

int SMTPPortNumber(const QString& PortText)
{
    bool Ok = false;
    const int Port = PortText.trimmed().toInt(&Ok, 10);
    return Ok && Port >= 1 && Port <= 65535 ? Port : 25;
}

bool TSMTPMailer::SendMail(const QString& Host, const QString& PortText, const QString& User,
                           const QString& Password, const QString& FromAddress, const QString& ToAddresses,
                           const QString& Subject, const QString& Body)
{
    Success = false;
    ErrorText.clear();
    ReplyCode = 0;
    Permanent = false;
    // Settings that can never work are refused before any connection, for good.
    auto Refuse = [this](const QString& Why) {
        ErrorText = QStringLiteral("SMTP Error ") + Why;
        Permanent = true;
        return false;
    };

    const QString UrlHostText = UrlHost(Host.trimmed());
    if (Host.trimmed().isEmpty())
        return Refuse(QStringLiteral("no SMTP server is set"));
    if (UrlHostText.isEmpty())
        return Refuse(QStringLiteral("invalid SMTP server name \"%1\"").arg(Host.trimmed()));
    const QString From = FromAddress.trimmed();
    if (!IsValidMailAddress(From))
        return Refuse(From.isEmpty() ? QStringLiteral("no sender address is set")
                                     : QStringLiteral("invalid sender address \"%1\"").arg(From));
    const QStringList Recipients = SplitAddressList(ToAddresses);
    if (Recipients.isEmpty())
        return Refuse(QStringLiteral("no recipient address is set"));
    for (const QString& Address : Recipients)
        if (!IsValidMailAddress(Address))
            return Refuse(QStringLiteral("invalid recipient address \"%1\"").arg(Address));

    InitCurl();
    std::unique_ptr<CURL, TCurlDeleter> Curl(curl_easy_init());
    if (!Curl)
        return Refuse(QStringLiteral("cannot create an SMTP client"));
    CURL* C = Curl.get();

    TSession Session;
    Session.Abort = Abort;
    Session.Message = BuildMailMessage(TMailContent{From, Recipients, Subject, Body, MailerName, {}});

    const int Port = SMTPPortNumber(PortText);
    const bool Implicit = UseTLS && Port == ImplicitTLSPort;
    const QByteArray Url = QStringLiteral("%1://%2:%3/%4")
                               .arg(Implicit ? QStringLiteral("smtps") : QStringLiteral("smtp"), UrlHostText)
                               .arg(Port)
                               .arg(GreetingDomain)
                               .toUtf8();
    const QByteArray MailFrom = '<' + From.toUtf8() + '>';
    std::unique_ptr<curl_slist, TSlistDeleter> Rcpt;
    for (const QString& Address : Recipients)
        Rcpt.reset(curl_slist_append(Rcpt.release(), ('<' + Address.toUtf8() + '>').constData()));
    const QByteArray UserBytes = User.toUtf8();
    const QByteArray PasswordBytes = Password.toUtf8();
    const QByteArray CAFileBytes = CAFile.toLocal8Bit();
    char CurlError[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(C, CURLOPT_URL, Url.constData());
    curl_easy_setopt(C, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(C, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(C, CURLOPT_CONNECTTIMEOUT_MS, long(ConnectTimeoutMSecs));
    curl_easy_setopt(C, CURLOPT_TIMEOUT_MS, long(SessionTimeoutMSecs));
    curl_easy_setopt(C, CURLOPT_ERRORBUFFER, CurlError);
    curl_easy_setopt(C, CURLOPT_USE_SSL, long(UseTLS ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    curl_easy_setopt(C, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(C, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(C, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!CAFileBytes.isEmpty())
        curl_easy_setopt(C, CURLOPT_CAINFO, CAFileBytes.constData());
    if (!UserBytes.isEmpty()) {
        // No login options: libcurl picks the strongest mechanism the server offers.
        curl_easy_setopt(C, CURLOPT_USERNAME, UserBytes.constData());
        curl_easy_setopt(C, CURLOPT_PASSWORD, PasswordBytes.constData());
    }
    curl_easy_setopt(C, CURLOPT_MAIL_FROM, MailFrom.constData());
    curl_easy_setopt(C, CURLOPT_MAIL_RCPT, Rcpt.get());
    curl_easy_setopt(C, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(C, CURLOPT_READFUNCTION, ReadCallback);
    curl_easy_setopt(C, CURLOPT_READDATA, &Session);
    curl_easy_setopt(C, CURLOPT_INFILESIZE_LARGE, curl_off_t(Session.Message.size()));
    curl_easy_setopt(C, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(C, CURLOPT_DEBUGFUNCTION, DebugCallback);
    curl_easy_setopt(C, CURLOPT_DEBUGDATA, &Session);
    curl_easy_setopt(C, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(C, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
    curl_easy_setopt(C, CURLOPT_XFERINFODATA, &Session);

    const CURLcode Result = curl_easy_perform(C);
    // Closing the handle says QUIT and disconnects; a failure there changes nothing.
    Curl.reset();
    if (Result == CURLE_OK) {
        Success = true;
        return true;
    }

    ReplyCode = Session.ErrorCode;
    Permanent = Session.ErrorCode >= 500 && Session.ErrorCode < 600;
    const QString ServerText = QString::fromUtf8(Session.ErrorText);
    if (Session.ErrorCode != 0 && Session.ErrorWhileSending) {
        // The server refused the mail itself: its code, its text and its enhanced status code.
        static const QRegularExpression Enhanced(QStringLiteral("^([245]\\.\\d{1,3}\\.\\d{1,3})\\s*(.*)$"));
        const auto Match = Enhanced.match(ServerText);
        ErrorText = QString::number(Session.ErrorCode) + QStringLiteral(": ")
                    + (Match.hasMatch() ? Match.captured(2) : ServerText);
        if (Match.hasMatch())
            ErrorText += QStringLiteral(". (") + Match.captured(1) + u')';
        return false;
    }
    QString Description = CurlError[0] ? QString::fromUtf8(CurlError) : QString::fromUtf8(curl_easy_strerror(Result));
    if (Session.ErrorCode != 0)
        Description += QStringLiteral(" (%1 %2)").arg(Session.ErrorCode).arg(ServerText);
    ErrorText = Session.Sending ? Description : QStringLiteral("SMTP Error ") + Description;
    return false;
}
