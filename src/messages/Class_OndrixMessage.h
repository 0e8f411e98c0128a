#pragma once
// Program messages: every event the operator should see becomes one message. A message goes
// to the day's log file (when logging is on), to the top of the message list (trimmed to
// LogCount entries) and, for the selected types, to the mailer as its log line.
//
// TOndrixMessages is the non-visual part of the main window that does this; the window binds
// its settings fields to its controls and draws the list through CellData.

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "util/DateTime.h"

enum TOndrixMessageType : quint8 {
    msgNone = 0,
    msgSampleEnable = 1,
    msgSampleDisable = 2,
    msgSampleDetect = 3,
    msgCommand = 4,
    msgError = 5,
    msgInfo = 8,
    msgSampleNotDetect = 9,
};

// One program message: its kind, the formatted and translated text, and when it was made.
struct TOndrixMessage {
    TOndrixMessageType MsgType = msgNone;
    QString Text;
    TDateTime Time = 0;
};

// A colour as red, green and blue components (the window turns it into its own colour type).
struct TRGBColor {
    quint8 R = 0;
    quint8 G = 0;
    quint8 B = 0;
    friend bool operator==(const TRGBColor&, const TRGBColor&) = default;
};

// The language key of a type's display name; empty for msgNone and for values outside the
// type table.
QString MessageTypeName(TOndrixMessageType MsgType);
// The display name: the key looked up in the message table; empty when the key is empty.
QString MessageTypeDisplayName(TOndrixMessageType MsgType);
// Row colours of a type in the message view (white on black text for unknown values).
TRGBColor MessageTypeBackground(TOndrixMessageType MsgType);
TRGBColor MessageTypeTextColor(TOndrixMessageType MsgType);

// The line written to the log file and mailed: "dd.mm.yy hh:nn:ss: <type name> - <text>",
// with any line break of the text turned into a blank.
QString MessageLogLine(const TOndrixMessage& Message);

// The message list; index 0 is the newest message.
class TOndrixMessageList {
public:
    int Count() const { return int(FItems.size()); }
    const TOndrixMessage& Items(int Index) const { return FItems.at(Index); }
    void Insert(int Index, const TOndrixMessage& Message) { FItems.insert(Index, Message); }
    void Delete(int Index) { FItems.removeAt(Index); }
    void Clear() { FItems.clear(); }

private:
    QList<TOndrixMessage> FItems;
};

// What one cell of the message view shows.
struct TMessageCell {
    QString Text;
    TRGBColor Background;
    TRGBColor TextColor;
};

// The message view's columns: caption and width in pixels.
struct TMessageColumn {
    const char16_t* Caption;
    int Width;
};
inline constexpr TMessageColumn MessageViewColumns[] = {
    {u"Время", 100},
    {u"Тип", 100},
    {u"Сообщение", 300},
};

class TOndrixMessages {
public:
    // Settings, bound to the main window's controls.
    QString LogFolder;            // folder of the log files (the settings object's LogFolder)
    bool LogFileCreate = false;   // append every message to the day's log file
    int LogCount = 30;            // most messages kept in the list
    // E-mail filter: the master switch and one switch per group of types.
    bool EmailMessagesCheck = false;
    bool MsgOnOffSampleCheck = false;
    bool MsgDetectSampleCheck = false;
    bool MsgCommandCheck = false;
    bool MsgErrorCheck = false;
    bool MsgNotDetectSampleCheck = false;

    // Receives the log line of every message that passes the e-mail filter.
    std::function<void(const QString& Line)> OnSendMail;
    // Called whenever the number of listed messages may have changed, so the view repaints.
    std::function<void(int RowCount)> OnRowCountChanged;
    // The wall clock; tests set their own.
    std::function<TDateTime()> Clock = [] { return Now(); };

    // Creates a message of this type and text, stamped with the clock, and processes it.
    // False, with the log file's error, when the line could not be written (see ProcessMessage).
    // MayMail false keeps the message out of the mail whatever the filter says: the mailer's
    // own failures are logged and listed, but never mailed.
    bool AddMessage(TOndrixMessageType MsgType, const QString& Text, QString* Error = nullptr, bool MayMail = true);
    // Writes, lists and mails one message. When logging is on and the log file cannot be
    // written, returns false with the error: the message is then neither listed nor mailed and
    // its line stays pending, to be written ahead of later lines by the next successful write.
    bool ProcessMessage(const TOndrixMessage& Message, QString* Error = nullptr, bool MayMail = true);

    // Full name of today's log file: LogFolder + "yyyy/<month name>/dd-mm-yy.log".
    QString GetLogFileName() const;

    // Empties the message list (the log files and the pending lines stay as they are).
    void ClearMessages();
    // Writes the pending log lines (at shutdown). True when nothing is left pending.
    bool FlushLog(QString* Error = nullptr);

    const TOndrixMessageList& Messages() const { return FMessages; }
    const QStringList& PendingLogLines() const { return FLogBuffer; }

    // The text and colours of one cell of the message view; nothing for rows beyond the list
    // or unknown columns (the view keeps its defaults there).
    std::optional<TMessageCell> CellData(int Row, int Column) const;

private:
    bool MailSelected(TOndrixMessageType MsgType) const;
    void RowCountChanged() const;

    TOndrixMessageList FMessages;
    QStringList FLogBuffer;
};
