#pragma once
// Readable GoogleTest output for Qt values: failures show the text, not the object's bytes.
// Also Q(), a fixture's path as the QString the program's functions take.

#include <QString>
#include <QStringList>

#include <filesystem>
#include <ostream>

inline QString Q(const std::filesystem::path& Path)
{
    return QString::fromStdString(Path.string());
}

inline void PrintTo(const QString& Value, std::ostream* Out)
{
    *Out << '"' << Value.toStdString() << '"';
}

inline void PrintTo(const QStringList& Value, std::ostream* Out)
{
    *Out << '{';
    for (qsizetype I = 0; I < Value.size(); ++I)
        *Out << (I ? ", \"" : "\"") << Value.at(I).toStdString() << '"';
    *Out << '}';
}
