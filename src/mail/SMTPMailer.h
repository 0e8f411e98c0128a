#pragma once
// One SMTP session that delivers one mail, over libcurl with OpenSSL.
//
// With UseTLS the connection is encrypted before anything else is said: port 465 speaks TLS from
// the first byte (implicit TLS), any other port must offer STARTTLS or the session ends without
// sending a thing. The server's certificate is verified against the system's trust store (plus
// CAFile when set), TLS 1.2 or newer. Without UseTLS (the operator's choice) the session is
// plain. A login uses the best mechanism the server offers (CRAM-MD5 before PLAIN and LOGIN).

#include <QString>

#include <atomic>

// The SMTP port of a port text: a decimal number from 1 to 65535, else 25.
int SMTPPortNumber(const QString& PortText);

class TSMTPMailer {
public:
    bool UseTLS = false;
    // A file of trusted certificate authorities in PEM, trusted beside the system's store
    // (a station's own authority; tests).
    QString CAFile;
    // The port that speaks TLS from the first byte; with UseTLS every other port uses STARTTLS.
    int ImplicitTLSPort = 465;
    int ConnectTimeoutMSecs = 5000;
    // The whole session at most; a server that stops answering cannot hold the mail queue.
    int SessionTimeoutMSecs = 60000;
    // When set, a running session ends at the next chance (the program is closing).
    const std::atomic<bool>* Abort = nullptr;

    // Outcome of the last SendMail.
    bool Success = false;
    QString ErrorText;
    int ReplyCode = 0;        // the server's last reply code when it refused something, else 0
    bool Permanent = false;   // the server refused for good (a 5xx reply): a retry cannot help

    // Sends one mail in one session. ToAddresses is a list separated by "," or ";". True on
    // success. On failure ErrorText says why:
    //  - the server refused the mail itself (MAIL FROM, RCPT TO, DATA): "<code>: <server text>"
    //    and ". (<enhanced status code>)" when the reply carried one;
    //  - any other failure while sending: its description;
    //  - a failure before (settings, connection, TLS, greeting, login): "SMTP Error " + its
    //    description.
    bool SendMail(const QString& Host, const QString& PortText, const QString& User, const QString& Password,
                  const QString& FromAddress, const QString& ToAddresses, const QString& Subject,
                  const QString& Body);

    // The X-Mailer header of every mail.
    static inline const QString MailerName = QStringLiteral("Veltrano Mailer");
    // The name given in EHLO / HELO.
    static inline const QString GreetingDomain = QStringLiteral("localhost");
};
