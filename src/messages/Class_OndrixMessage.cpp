#include "messages/Class_OndrixMessage.h"

#include "lang/Lang.h"
#include "util/KeyValueText.h"
#include "util/TextFile.h"

namespace {

struct TMessageTypeInfo {
    TOndrixMessageType MsgType;
    const char16_t* Key;
    TRGBColor Background;
    TRGBColor TextColor;
};

constexpr TRGBColor White{255, 255, 255};
constexpr TRGBColor Black{0, 0, 0};

constexpr TMessageTypeInfo MessageTypes[] = {
    {msgNone, u"", White, Black},
    {msgSampleEnable, u"SampleEnable", {200, 230, 200}, Black},
    {msgSampleDisable, u"SampleDisable", {230, 210, 200}, Black},
    {msgSampleDetect, u"SampleDetect", {136, 255, 136}, Black},
    {msgCommand, u"Command", {255, 255, 185}, Black},
    {msgError, u"Error", {255, 0, 0}, White},
    {msgInfo, u"Info", White, Black},
    {msgSampleNotDetect, u"SampleNotDetect", {255, 204, 204}, Black},
};

// The table row of a type; values outside the table read as msgNone.
const TMessageTypeInfo& TypeInfo(TOndrixMessageType MsgType)
{
    for (const TMessageTypeInfo& Info : MessageTypes)
        if (Info.MsgType == MsgType)
            return Info;
    return MessageTypes[0];
}

}  // namespace

QString MessageTypeName(TOndrixMessageType MsgType)
{
    return QString::fromUtf16(TypeInfo(MsgType).Key);
}

QString MessageTypeDisplayName(TOndrixMessageType MsgType)
{
    const QString Key = MessageTypeName(MsgType);
    return Key.isEmpty() ? QString() : GetMessageText(Key);
}

TRGBColor MessageTypeBackground(TOndrixMessageType MsgType)
{
    return TypeInfo(MsgType).Background;
}

TRGBColor MessageTypeTextColor(TOndrixMessageType MsgType)
{
    return TypeInfo(MsgType).TextColor;
}

QString MessageLogLine(const TOndrixMessage& Message)
{
    return FormatDateTime(QStringLiteral("dd.mm.yy hh:nn:ss"), Message.Time) + QStringLiteral(": ")
        + MessageTypeDisplayName(Message.MsgType) + QStringLiteral(" - ")
        // One message, one line: a text with line breaks (an external program's name, a
        // multi-line error) must not split into lines that read like other messages.
        + OneLineValue(Message.Text);
}

bool TOndrixMessages::AddMessage(TOndrixMessageType MsgType, const QString& Text, QString* Error, bool MayMail)
{
    return ProcessMessage(TOndrixMessage{MsgType, Text, Clock()}, Error, MayMail);
}

bool TOndrixMessages::ProcessMessage(const TOndrixMessage& Message, QString* Error, bool MayMail)
{
    const QString Line = MessageLogLine(Message);

    if (LogFileCreate) {
        // The line joins the pending ones first, so a failed write keeps it, and the next
        // successful write puts it ahead of the lines that came after it.
        FLogBuffer.append(Line);
        if (!FlushLog(Error))
            return false;
    }

    FMessages.Insert(0, Message);
    while (LogCount < FMessages.Count() && FMessages.Count() > 0)
        FMessages.Delete(FMessages.Count() - 1);
    RowCountChanged();

    if (MayMail && MailSelected(Message.MsgType) && OnSendMail)
        OnSendMail(Line);
    return true;
}

bool TOndrixMessages::MailSelected(TOndrixMessageType MsgType) const
{
    if (!EmailMessagesCheck)
        return false;
    switch (MsgType) {
    case msgSampleEnable:
    case msgSampleDisable:
        return MsgOnOffSampleCheck;
    case msgSampleDetect:
        return MsgDetectSampleCheck;
    case msgCommand:
        return MsgCommandCheck;
    case msgError:
        return MsgErrorCheck;
    case msgSampleNotDetect:
        return MsgNotDetectSampleCheck;
    default:
        return false;
    }
}

QString TOndrixMessages::GetLogFileName() const
{
    // One reading of the clock for folder and file, so a line written at midnight never lands
    // in the new day's file inside the old month's folder.
    const TDateTime Today = Clock();
    QString Folder = LogFolder;
    if (!Folder.isEmpty() && !Folder.endsWith(u'/'))
        Folder += u'/';
    return Folder + FormatDateTime(QStringLiteral("yyyy/mmmm/"), Today)
        + FormatDateTime(QStringLiteral("dd-mm-yy"), Today) + QStringLiteral(".log");
}

void TOndrixMessages::ClearMessages()
{
    FMessages.Clear();
    RowCountChanged();
}

bool TOndrixMessages::FlushLog(QString* Error)
{
    if (FLogBuffer.isEmpty())
        return true;
    if (!AppendTextLines(GetLogFileName(), FLogBuffer, Error))
        return false;
    FLogBuffer.clear();
    return true;
}

std::optional<TMessageCell> TOndrixMessages::CellData(int Row, int Column) const
{
    if (Row < 0 || Row >= FMessages.Count())
        return std::nullopt;
    const TOndrixMessage& Message = FMessages.Items(Row);
    TMessageCell Cell;
    switch (Column) {
    case 0:
        Cell.Text = FormatDateTime(QStringLiteral("dd.mm.yyyy hh:nn:ss"), Message.Time);
        break;
    case 1:
        Cell.Text = MessageTypeDisplayName(Message.MsgType);
        break;
    case 2:
        Cell.Text = Message.Text;
        break;
    default:
        return std::nullopt;
    }
    Cell.Background = MessageTypeBackground(Message.MsgType);
    Cell.TextColor = MessageTypeTextColor(Message.MsgType);
    return Cell;
}

void TOndrixMessages::RowCountChanged() const
{
    if (OnRowCountChanged)
        OnRowCountChanged(FMessages.Count());
}
