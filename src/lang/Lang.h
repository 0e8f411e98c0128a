#pragma once
// The message table: every text the program shows or logs, looked up by key. It starts with
// the built-in (Russian) texts and is overlaid by the chosen language file. Keys compare
// without regard to case; a key without a text shows as the key itself.
//
// The global table may be read from any thread (mail and backup threads format messages);
// every access takes its lock.

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

// One message: key and text.
struct TMessageValue {
    QString Key;
    QString Text;
};

// A list of messages in insertion order; keys compare without regard to case.
class TMessageValues {
public:
    // Index of the first message with this key, or -1.
    qsizetype IndexOf(const QString& Key) const;
    // Replaces the text of the message with this key, or appends a new message.
    void SetText(const QString& Key, const QString& Text);
    void Append(const QString& Key, const QString& Text);
    void Clear() { Items.clear(); }
    qsizetype Count() const { return Items.size(); }
    const TMessageValue& At(qsizetype Index) const { return Items.at(Index); }

    // Appends one message per line, split at the first "=" into key and text; a line
    // without "=" gives an empty key and the whole line as text.
    void AddMessageStrings(const QStringList& Lines);
    // One line per message, in list order: key, "=", text.
    QStringList ToMessageStrings() const;

private:
    QList<TMessageValue> Items;
};

// The built-in table as message strings (key=text), in its order.
QStringList BuiltInMessageStrings();

// The text of the first message whose key equals Key without regard to case; Key itself when
// there is none.
QString GetMessageText(const QString& Key);

// GetMessageText(Key) with "%d" and "%s" replaced by the arguments in order.
QString FormatMessageText(const QString& Key, const QVariantList& Args);

// Replaces "%d" and "%s" in Text by the arguments in order; "%%" gives "%". A placeholder
// without an argument is kept as it stands, so a faulty translation never loses text.
QString FormatMessage(const QString& Text, const QVariantList& Args);

// Replaces the text of the message with that key (keeping its position), or appends it.
void SetMessageText(const QString& Key, const QString& Text);

// Rewrites MessageStrings from the messages: one line per message, key, "=", text.
void RebuildMessageStrings();

// The message strings of the global table (the built-in ones until rebuilt).
QStringList MessageStrings();

// Puts the built-in texts back, dropping every text set since.
void ResetMessageTable();
