#pragma once
// The text of one mail as it goes to the SMTP server: RFC 5322 headers with MIME, the subject
// as RFC 2047 encoded words in UTF-8 and the body as UTF-8 plain text in Base64. Language files
// may hold any script, and so may the messages mailed.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

struct TMailContent {
    QString FromAddress;       // sender and From, without display name
    QStringList ToAddresses;   // recipients, also the To header
    QString Subject;
    QString Body;              // lines split at any line break; sent with CR LF
    QString MailerName;        // the X-Mailer header; none when empty
    QDateTime Date;            // the Date header; now when invalid
};

// The whole message, headers and body, with CR LF line ends.
QByteArray BuildMailMessage(const TMailContent& Content);

// A header's text: as it stands when it is short printable ASCII, otherwise as encoded words
// "=?UTF-8?B?...?=" of at most 75 characters each, folded onto continuation lines. Characters
// are never split across two words. Line breaks in the text become blanks.
QByteArray EncodeHeaderText(const QString& Text);

// The addresses of a recipient list separated by "," or ";", trimmed, empty ones left out.
QStringList SplitAddressList(const QString& Text);

// Whether an address can go into an envelope command and a header as it stands: not empty, at
// most 254 characters, and no blanks, control characters or any of < > ( ) [ ] , ; : " \ .
bool IsValidMailAddress(const QString& Address);
