// One SMTP session against a real SMTP server (aiosmtpd) started by the test: plain, implicit
// TLS and STARTTLS, logins, refusals, and texts in many scripts read back by an independent
// decoder (Python's e-mail parser).
#include "mail/SMTPMailer.h"

#include "helpers/NetServers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using testkit::ReceivedMail;
using testkit::SmtpServer;
using testkit::SmtpServerOptions;
using Tls = SmtpServerOptions::Tls;

namespace {

const testkit::TestCertificates& Certificates()
{
    static const testkit::TestCertificates Instance;
    return Instance;
}

SmtpServerOptions WithTls(Tls Mode)
{
    SmtpServerOptions Options;
    Options.tls = Mode;
    Options.certFile = Certificates().certFile;
    Options.keyFile = Certificates().keyFile;
    return Options;
}

// A mailer for the server: implicit TLS on the server's own port when it speaks TLS from the
// first byte (the tests cannot count on having port 465 to themselves).
TSMTPMailer MailerFor(const SmtpServer& Server, bool UseTLS, Tls Mode = Tls::None)
{
    TSMTPMailer Mailer;
    Mailer.UseTLS = UseTLS;
    Mailer.CAFile = QString::fromStdString(Certificates().caFile);
    Mailer.ImplicitTLSPort = Mode == Tls::Implicit ? Server.port() : 465;
    // The server is a Python program on a shared machine: give its TLS handshake time.
    Mailer.ConnectTimeoutMSecs = 30000;
    return Mailer;
}

bool Send(TSMTPMailer& Mailer, const SmtpServer& Server, const QString& Subject = QStringLiteral("Subject"),
          const QString& Body = QStringLiteral("Body"), const QString& User = {}, const QString& Password = {},
          const QString& To = QStringLiteral("operator@station.test"))
{
    return Mailer.SendMail(QStringLiteral("127.0.0.1"), QString::number(Server.port()), User, Password,
                           QStringLiteral("ondrix@station.test"), To, Subject, Body);
}

}  // namespace

TEST(SMTPPortNumber, ReadsDecimalPortOr25)
{
    const struct {
        const char* Text;
        int Port;
    } Cases[] = {{"25", 25}, {"465", 465}, {" 587 ", 587}, {"2525", 2525}, {"", 25}, {"abc", 25},
                 {"0x1F", 25}, {"0", 25}, {"-1", 25}, {"65536", 25}, {"65535", 65535}, {"12a", 25}};
    for (const auto& Case : Cases)
        EXPECT_EQ(SMTPPortNumber(QString::fromUtf8(Case.Text)), Case.Port) << Case.Text;
}

// Each way of connecting delivers the same mail, encrypted exactly when the TLS box is on.
TEST(SMTPMailer, DeliversPlainImplicitTlsAndStartTls)
{
    const struct {
        const char* Name;
        Tls Server;
        bool UseTLS;
    } Cases[] = {
        {"plain", Tls::None, false},
        {"implicit TLS", Tls::Implicit, true},
        {"STARTTLS", Tls::StartTls, true},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        SmtpServer Server(WithTls(Case.Server));
        Server.start();
        TSMTPMailer Mailer = MailerFor(Server, Case.UseTLS, Case.Server);
        ASSERT_TRUE(Send(Mailer, Server, QStringLiteral("Sample found"), QStringLiteral("Line one")))
            << Mailer.ErrorText.toStdString();
        EXPECT_TRUE(Mailer.ErrorText.isEmpty());
        ASSERT_TRUE(Server.waitForMails(1));
        const ReceivedMail Mail = Server.mails().at(0);
        EXPECT_EQ(Mail.tls, Case.UseTLS);
        EXPECT_EQ(Mail.mailFrom, "ondrix@station.test");
        EXPECT_EQ(Mail.rcptTos, std::vector<std::string>{"operator@station.test"});
        EXPECT_EQ(Mail.from, "ondrix@station.test");
        EXPECT_EQ(Mail.to, "operator@station.test");
        EXPECT_EQ(Mail.subject, "Sample found");
        EXPECT_EQ(Mail.body, "Line one");
        EXPECT_EQ(Mail.xMailer, "Veltrano Mailer");
        EXPECT_EQ(Mail.contentType, "text/plain");
        EXPECT_EQ(Mail.charset, "utf-8");
        EXPECT_FALSE(Mail.date.empty());
        EXPECT_FALSE(Mail.messageId.empty());
    }
}

// With the TLS box on nothing goes out unencrypted and the server must prove who it is.
TEST(SMTPMailer, TlsBoxNeverFallsBackToPlainOrUntrustedServers)
{
    const struct {
        const char* Name;
        Tls Server;
        bool Implicit;          // the client speaks TLS from the first byte
        bool TrustServerCa;
    } Cases[] = {
        {"server without STARTTLS", Tls::None, false, true},
        {"plain server on the implicit TLS port", Tls::None, true, true},
        {"STARTTLS with a certificate of another authority", Tls::StartTls, false, false},
        {"implicit TLS with a certificate of another authority", Tls::Implicit, true, false},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        SmtpServerOptions Options = WithTls(Case.Server);
        Options.user = "station";
        Options.password = "secret";
        SmtpServer Server(Options);
        Server.start();
        TSMTPMailer Mailer = MailerFor(Server, true);
        Mailer.ImplicitTLSPort = Case.Implicit ? Server.port() : 465;
        Mailer.CAFile = QString::fromStdString(Case.TrustServerCa ? Certificates().caFile : Certificates().otherCaFile);
        EXPECT_FALSE(Send(Mailer, Server, QStringLiteral("S"), QStringLiteral("B"), QStringLiteral("station"),
                          QStringLiteral("secret")));
        EXPECT_TRUE(Mailer.ErrorText.startsWith(QStringLiteral("SMTP Error "))) << Mailer.ErrorText.toStdString();
        EXPECT_FALSE(Mailer.Permanent);
        EXPECT_TRUE(Server.mails().empty());
    }
}

// The login uses the best mechanism offered; no user name means no login at all.
TEST(SMTPMailer, LogsInWithBestMechanismOrIsRefused)
{
    const struct {
        const char* Name;
        const char* Offered;
        const char* ServerPassword;
        const char* User;
        const char* Password;
        bool Delivered;
        const char* Mechanism;   // used, when delivered
        const char* ErrorStart;  // of the error text, when refused
    } Cases[] = {
        {"PLAIN before LOGIN", "PLAIN,LOGIN", "secret", "station", "secret", true, "PLAIN", ""},
        {"LOGIN only", "LOGIN", "secret", "station", "secret", true, "LOGIN", ""},
        {"CRAM-MD5 keeps the password off the wire", "CRAM-MD5,PLAIN,LOGIN", "secret", "station", "secret", true,
         "CRAM-MD5", ""},
        {"non-ASCII password", "PLAIN,LOGIN", "пароль-密码", "station", "пароль-密码", true, "PLAIN", ""},
        {"wrong password", "PLAIN,LOGIN", "secret", "station", "wrong", false, "", "SMTP Error "},
        {"wrong password, CRAM-MD5", "CRAM-MD5", "secret", "station", "wrong", false, "", "SMTP Error "},
        // No user name: no login even with a password set; the server then refuses the mail.
        {"no user name", "PLAIN,LOGIN", "secret", "", "secret", false, "", "530: "},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        SmtpServerOptions Options;
        Options.user = "station";
        Options.password = Case.ServerPassword;
        Options.mechanisms = Case.Offered;
        SmtpServer Server(Options);
        Server.start();
        TSMTPMailer Mailer = MailerFor(Server, false);
        const bool Sent = Send(Mailer, Server, QStringLiteral("S"), QStringLiteral("B"), QString::fromUtf8(Case.User),
                               QString::fromUtf8(Case.Password));
        EXPECT_EQ(Sent, Case.Delivered) << Mailer.ErrorText.toStdString();
        if (Case.Delivered) {
            ASSERT_TRUE(Server.waitForMails(1));
            EXPECT_EQ(Server.mails().at(0).authMechanism, Case.Mechanism);
            EXPECT_EQ(Server.mails().at(0).authUser, "station");
        } else {
            EXPECT_TRUE(Mailer.ErrorText.startsWith(QString::fromUtf8(Case.ErrorStart))) << Mailer.ErrorText.toStdString();
            EXPECT_TRUE(Mailer.Permanent);
            EXPECT_GE(Mailer.ReplyCode, 500);
            EXPECT_TRUE(Server.mails().empty());
        }
    }
}

TEST(SMTPMailer, RejectedRecipientGivesCodeServerTextAndEnhancedCode)
{
    SmtpServerOptions Options;
    Options.rejectRecipients = {"nobody@station.test"};
    SmtpServer Server(Options);
    Server.start();
    TSMTPMailer Mailer = MailerFor(Server, false);
    EXPECT_FALSE(Send(Mailer, Server, QStringLiteral("S"), QStringLiteral("B"), {}, {},
                      QStringLiteral("operator@station.test, nobody@station.test")));
    EXPECT_EQ(Mailer.ErrorText.toStdString(),
              "550: <nobody@station.test>: Recipient address rejected: User unknown. (5.1.1)");
    EXPECT_EQ(Mailer.ReplyCode, 550);
    EXPECT_TRUE(Mailer.Permanent);
    EXPECT_TRUE(Server.mails().empty());
}

TEST(SMTPMailer, SeveralRecipientsSeparatedByCommaOrSemicolon)
{
    SmtpServer Server;
    Server.start();
    TSMTPMailer Mailer = MailerFor(Server, false);
    ASSERT_TRUE(Send(Mailer, Server, QStringLiteral("S"), QStringLiteral("B"), {}, {},
                     QStringLiteral(" a@station.test,b@station.test ; c@station.test ,")))
        << Mailer.ErrorText.toStdString();
    ASSERT_TRUE(Server.waitForMails(1));
    const ReceivedMail Mail = Server.mails().at(0);
    EXPECT_EQ(Mail.rcptTos, (std::vector<std::string>{"a@station.test", "b@station.test", "c@station.test"}));
    EXPECT_EQ(Mail.to, "a@station.test, b@station.test, c@station.test");
}

// Language files may hold any script: subject and body arrive exactly as written.
TEST(SMTPMailer, SubjectAndBodyInAnyScriptArriveExactly)
{
    const QString LongCyrillic = QStringLiteral("Найден образец № 12 \"Джингл утреннего шоу\" ").repeated(12);
    const struct {
        const char* Name;
        QString Subject;
        QString Body;
    } Cases[] = {
        {"Cyrillic", QStringLiteral("03.03.18 14:05:09: НАЙДЕН - Найден образец № 1 \"Заставка\""),
         QStringLiteral("Образец определён.\r\nВторая строка.")},
        {"Greek, Arabic, Hebrew", QStringLiteral("Ελληνικά — العربية — עברית"), QStringLiteral("Γειά σου κόσμε\nمرحبا")},
        {"CJK and emoji beyond the basic plane", QStringLiteral("日本語の件名 한국어 中文 🎵📻"),
         QStringLiteral("音声を検出しました 🎶")},
        {"long subject folded over many words", LongCyrillic, LongCyrillic},
        {"ASCII that looks like an encoded word", QStringLiteral("=?UTF-8?B?SGk=?= plain"), QStringLiteral("=?x?=")},
        {"empty subject and body", QString(), QString()},
    };
    SmtpServer Server;
    Server.start();
    int Count = 0;
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TSMTPMailer Mailer = MailerFor(Server, false);
        ASSERT_TRUE(Send(Mailer, Server, Case.Subject, Case.Body)) << Mailer.ErrorText.toStdString();
        ASSERT_TRUE(Server.waitForMails(size_t(++Count)));
        const ReceivedMail Mail = Server.mails().at(size_t(Count - 1));
        EXPECT_EQ(QString::fromStdString(Mail.subject), Case.Subject);
        // The body's line breaks travel as CR LF.
        QString Body = Case.Body;
        Body.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        EXPECT_EQ(QString::fromStdString(Mail.body), Body);
        // Every header line stays 7-bit and within the line limit.
        for (const char C : Mail.rawHeaders)
            EXPECT_LT(static_cast<unsigned char>(C), 0x80);
        size_t LineStart = 0;
        while (LineStart < Mail.rawHeaders.size()) {
            const size_t End = Mail.rawHeaders.find("\r\n", LineStart);
            const size_t Length = (End == std::string::npos ? Mail.rawHeaders.size() : End) - LineStart;
            EXPECT_LE(Length, 998u);
            if (End == std::string::npos)
                break;
            LineStart = End + 2;
        }
    }
}

TEST(SMTPMailer, UnreachableServerIsAConnectionError)
{
    const int Port = testkit::freeLocalPort();
    TSMTPMailer Mailer;
    EXPECT_FALSE(Mailer.SendMail(QStringLiteral("127.0.0.1"), QString::number(Port), {}, {},
                                 QStringLiteral("ondrix@station.test"), QStringLiteral("operator@station.test"),
                                 QStringLiteral("S"), QStringLiteral("B")));
    EXPECT_TRUE(Mailer.ErrorText.startsWith(QStringLiteral("SMTP Error "))) << Mailer.ErrorText.toStdString();
    EXPECT_FALSE(Mailer.Permanent);
}

// Settings that can never work are refused before connecting, and no text of them can reach a
// command line or header of its own.
TEST(SMTPMailer, RefusesUnusableSettingsWithoutConnecting)
{
    const struct {
        const char* Name;
        const char* Host;
        const char* From;
        const char* To;
        const char* Error;
    } Cases[] = {
        {"no server", "", "a@b.test", "c@d.test", "SMTP Error no SMTP server is set"},
        {"server name with a path", "evil.test/x", "a@b.test", "c@d.test", "SMTP Error invalid SMTP server name \"evil.test/x\""},
        {"server name with a login", "user@evil.test", "a@b.test", "c@d.test", "SMTP Error invalid SMTP server name \"user@evil.test\""},
        {"no sender", "127.0.0.1", "", "c@d.test", "SMTP Error no sender address is set"},
        {"sender with a line break", "127.0.0.1", "a@b.test\r\nRCPT TO:<x@y>", "c@d.test", nullptr},
        {"no recipient", "127.0.0.1", "a@b.test", " , ; ", "SMTP Error no recipient address is set"},
        {"recipient in brackets", "127.0.0.1", "a@b.test", "<c@d.test>", "SMTP Error invalid recipient address \"<c@d.test>\""},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TSMTPMailer Mailer;
        EXPECT_FALSE(Mailer.SendMail(QString::fromUtf8(Case.Host), QStringLiteral("1"), {}, {}, QString::fromUtf8(Case.From),
                                     QString::fromUtf8(Case.To), QStringLiteral("S"), QStringLiteral("B")));
        if (Case.Error)
            EXPECT_EQ(Mailer.ErrorText.toStdString(), Case.Error);
        else
            EXPECT_TRUE(Mailer.ErrorText.startsWith(QStringLiteral("SMTP Error invalid sender address")));
        EXPECT_TRUE(Mailer.Permanent);
    }
}

// Port 465 itself speaks TLS from the first byte.
TEST(SMTPMailer, Port465IsImplicitTls)
{
    SmtpServer Server(WithTls(Tls::Implicit));
    try {
        Server.start(465);
    } catch (const std::exception&) {
        GTEST_SKIP() << "port 465 is not free here";
    }
    TSMTPMailer Mailer;
    Mailer.UseTLS = true;
    Mailer.CAFile = QString::fromStdString(Certificates().caFile);
    ASSERT_TRUE(Send(Mailer, Server)) << Mailer.ErrorText.toStdString();
    ASSERT_TRUE(Server.waitForMails(1));
    EXPECT_TRUE(Server.mails().at(0).tls);
}
