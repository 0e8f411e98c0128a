#include "util/CmdLine.h"

#include <QCoreApplication>

bool FindCmdLineSwitch(const QStringList& Args, const QString& Name, QString& Value)
{
    bool Found = false;
    for (const QString& Arg : Args) {
        const QString Trimmed = Arg.trimmed();
        if (Trimmed.isEmpty() || (Trimmed.front() != u'/' && Trimmed.front() != u'\\'))
            continue;
        const QString Body = Trimmed.mid(1);
        const qsizetype Eq = Body.indexOf(u'=');
        const QString SwitchName = (Eq < 0 ? Body : Body.left(Eq)).trimmed();
        if (SwitchName.compare(Name, Qt::CaseInsensitive) != 0)
            continue;
        Value = Eq < 0 ? QString() : Body.mid(Eq + 1).trimmed().remove(u'"');
        Found = true;
    }
    return Found;
}

QStringList ProgramArguments()
{
    QStringList Args = QCoreApplication::arguments();
    if (!Args.isEmpty())
        Args.removeFirst();
    return Args;
}
