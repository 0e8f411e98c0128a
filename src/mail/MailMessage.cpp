#include "mail/MailMessage.h"

#include <QRegularExpression>
#include <QUuid>

namespace {

const QByteArray CRLF("\r\n");

// Longest header text left as it stands; longer text is folded through encoded words so that
// no line comes near the 998-character limit.
constexpr qsizetype MaxPlainHeaderText = 900;
// UTF-8 bytes per encoded word: 45 bytes give 60 Base64 characters, and with "=?UTF-8?B?" and
// "?=" the word's 72 characters stay within the 75 allowed.
constexpr qsizetype EncodedWordBytes = 45;

QString OneLine(const QString& Text)
{
    QString Result = Text;
    for (QChar& C : Result)
        if (C == u'\r' || C == u'\n')
            C = u' ';
    return Result;
}

bool IsPlainHeaderText(const QString& Text)
{
    if (Text.size() > MaxPlainHeaderText || Text.contains(QLatin1String("=?")))
        return false;
    for (const QChar C : Text)
        if (C.unicode() < 0x20 || C.unicode() > 0x7E)
            return false;
    return true;
}

// Base64 in lines of 76 characters, each ended by CR LF.
QByteArray Base64Lines(const QByteArray& Data)
{
    const QByteArray Encoded = Data.toBase64();
    QByteArray Result;
    Result.reserve(Encoded.size() + Encoded.size() / 76 * 2 + 2);
    for (qsizetype I = 0; I < Encoded.size(); I += 76)
        Result += Encoded.mid(I, 76) + CRLF;
    return Result;
}

QByteArray MessageIdDomain(const QString& FromAddress)
{
    const qsizetype At = FromAddress.lastIndexOf(u'@');
    const QString Domain = At >= 0 ? FromAddress.mid(At + 1) : QString();
    return IsValidMailAddress(Domain) && !Domain.contains(u'@') ? Domain.toUtf8() : QByteArray("ondrix.localhost");
}

}  // namespace

QByteArray EncodeHeaderText(const QString& Text)
{
    const QString Line = OneLine(Text);
    if (IsPlainHeaderText(Line))
        return Line.toLatin1();
    const QByteArray Utf8 = Line.toUtf8();
    QByteArray Result;
    qsizetype Start = 0;
    while (Start < Utf8.size()) {
        qsizetype End = std::min(Start + EncodedWordBytes, Utf8.size());
        // Back off to the start of a character: continuation bytes are 10xxxxxx.
        while (End < Utf8.size() && End > Start + 1 && (quint8(Utf8.at(End)) & 0xC0) == 0x80)
            --End;
        if (!Result.isEmpty())
            Result += "\r\n ";
        Result += "=?UTF-8?B?" + Utf8.mid(Start, End - Start).toBase64() + "?=";
        Start = End;
    }
    return Result;
}

QStringList SplitAddressList(const QString& Text)
{
    QStringList Result;
    for (const QString& Part : Text.split(QRegularExpression(QStringLiteral("[,;]")))) {
        const QString Address = Part.trimmed();
        if (!Address.isEmpty())
            Result.append(Address);
    }
    return Result;
}

bool IsValidMailAddress(const QString& Address)
{
    if (Address.isEmpty() || Address.size() > 254)
        return false;
    for (const QChar C : Address) {
        if (C.unicode() <= 0x20 || C.unicode() == 0x7F)
            return false;
        if (QStringView(u"<>()[],;:\"\\").contains(C))
            return false;
    }
    return true;
}

QByteArray BuildMailMessage(const TMailContent& Content)
{
    const QDateTime Date = Content.Date.isValid() ? Content.Date : QDateTime::currentDateTime();
    QByteArray To;
    for (const QString& Address : Content.ToAddresses)
        To += (To.isEmpty() ? "" : ", ") + Address.toUtf8();

    QByteArray Message;
    Message += "Date: " + Date.toString(Qt::RFC2822Date).toLatin1() + CRLF;
    Message += "From: " + Content.FromAddress.toUtf8() + CRLF;
    Message += "To: " + To + CRLF;
    Message += "Subject: " + EncodeHeaderText(Content.Subject) + CRLF;
    Message += "Message-ID: <" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + "@"
               + MessageIdDomain(Content.FromAddress) + ">" + CRLF;
    if (!Content.MailerName.isEmpty())
        Message += "X-Mailer: " + EncodeHeaderText(Content.MailerName) + CRLF;
    Message += "MIME-Version: 1.0" + CRLF;
    Message += "Content-Type: text/plain; charset=UTF-8" + CRLF;
    Message += "Content-Transfer-Encoding: base64" + CRLF;
    Message += CRLF;

    // The body's lines end with CR LF whatever line breaks the text had.
    QString Body = Content.Body;
    Body.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    Body.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    Message += Base64Lines(Body.toUtf8());
    return Message;
}
