#include "core/FileExecute.h"

#include "lang/Lang.h"
#include "util/Shell.h"

#include <QFileInfo>
#include <QStandardPaths>

QStringList SplitCommandTokens(const QString& Text)
{
    QStringList Tokens;
    const auto IsSeparator = [](QChar C) { return C.unicode() <= u' '; };
    qsizetype I = 0;
    const qsizetype Size = Text.size();
    while (I < Size) {
        while (I < Size && IsSeparator(Text[I]))
            ++I;
        if (I >= Size)
            break;
        QString Token;
        while (I < Size && !IsSeparator(Text[I])) {
            if (Text[I] == u'"') {
                ++I;
                while (I < Size && Text[I] != u'"')
                    Token += Text[I++];
                if (I < Size)
                    ++I;  // the closing quote
            } else {
                Token += Text[I++];
            }
        }
        Tokens.append(Token);
    }
    return Tokens;
}

bool FileExecute(const QString& Text, QString* Error)
{
    QStringList Tokens = SplitCommandTokens(Text);
    if (Tokens.isEmpty() || Tokens.first().isEmpty())
        return true;
    const QString File = Tokens.takeFirst();
    QFileInfo Info(File);
    if (!Info.exists() && !File.contains(u'/')) {
        const QString Found = QStandardPaths::findExecutable(File);
        if (!Found.isEmpty())
            Info.setFile(Found);
    }
    if (Info.isFile() && Info.isExecutable())
        return ShellRun(Info.absoluteFilePath(), Tokens, Info.absolutePath(), Error);
    if (!Info.exists()) {
        if (Error)
            *Error = GetMessageText(QStringLiteral("ErrorFileNotFound"));
        return false;
    }
    return ShellOpen(Info.absoluteFilePath(), Error);
}
