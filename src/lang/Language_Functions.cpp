#include "lang/Language_Functions.h"

#include "util/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMetaProperty>
#include <QQueue>
#include <QRegularExpression>
#include <QTranslator>

#include <memory>
#include <vector>

namespace {

std::vector<TLanguagePropertyResolver>& Resolvers()
{
    static std::vector<TLanguagePropertyResolver> List;
    return List;
}

std::function<bool(QObject*)>& WindowTest()
{
    static std::function<bool(QObject*)> Test;
    return Test;
}

const QString HeaderSection = QStringLiteral("Language");
const QString HeaderNameKey = QStringLiteral("Language");
const QString HeaderHelpKey = QStringLiteral("HelpFile");

// The component named Name (without regard to case) among those Parent holds, nearest first;
// the components of another window are not searched.
QObject* FindComponent(QObject* Parent, const QString& Name)
{
    QQueue<QObject*> Pending;
    Pending.enqueue(Parent);
    while (!Pending.isEmpty()) {
        const QObject* Current = Pending.dequeue();
        for (QObject* Child : Current->children()) {
            if (WindowTest() && WindowTest()(Child))
                continue;
            if (Child->objectName().compare(Name, Qt::CaseInsensitive) == 0)
                return Child;
            Pending.enqueue(Child);
        }
    }
    return nullptr;
}

// A property of the meta-object system of one of the three kinds a language file sets.
std::optional<TLanguageProperty> MetaProperty(QObject* Component, const QString& Name)
{
    const QMetaObject* Meta = Component->metaObject();
    for (int I = 0; I < Meta->propertyCount(); ++I) {
        const QMetaProperty Property = Meta->property(I);
        if (QString::fromLatin1(Property.name()).compare(Name, Qt::CaseInsensitive) != 0 || !Property.isWritable())
            continue;
        const int Type = Property.metaType().id();
        TLanguageProperty Result;
        if (Type == QMetaType::QString) {
            Result.Get = [=] { return QStringList{Property.read(Component).toString()}; };
            Result.Set = [=](const QStringList& Value) { Property.write(Component, Value.value(0)); };
        } else if (Type == QMetaType::Int) {
            Result.Get = [=] { return QStringList{QString::number(Property.read(Component).toInt())}; };
            Result.Set = [=](const QStringList& Value) {
                bool Ok = false;
                const int Number = Value.value(0).trimmed().toInt(&Ok);
                Property.write(Component, Ok ? Number : 0);
            };
        } else if (Type == QMetaType::QStringList) {
            Result.IsList = true;
            Result.Get = [=] { return Property.read(Component).toStringList(); };
            Result.Set = [=](const QStringList& Value) { Property.write(Component, Value); };
        } else {
            return std::nullopt;
        }
        return Result;
    }
    return std::nullopt;
}

std::optional<TLanguageProperty> FindProperty(QObject* Component, const QString& Name)
{
    for (const TLanguagePropertyResolver& Resolver : Resolvers())
        if (std::optional<TLanguageProperty> Found = Resolver(Component, Name))
            return Found;
    return MetaProperty(Component, Name);
}

struct TModuleState {
    QString ProgramFolder;
    QString MainIniFile;
    QString ChosenFile;
    TLanguage* Global = nullptr;
    Language::TLanguageList List;
    std::unique_ptr<QTranslator> Toolkit;  // Qt's Russian texts, installed with the built-in language
};

TModuleState& State()
{
    static TModuleState Instance;
    return Instance;
}

// The message table holds the desktop's English texts (UseDesktopLanguage), which the
// operator's choice of the built-in language takes back out.
bool DesktopMessagesLoaded = false;

}  // namespace

void RegisterLanguagePropertyResolver(TLanguagePropertyResolver Resolver)
{
    Resolvers().push_back(std::move(Resolver));
}

void SetLanguageWindowTest(std::function<bool(QObject*)> IsSeparateWindow)
{
    WindowTest() = std::move(IsSeparateWindow);
}

QStringList SplitLanguageValue(const QString& Text, const QString& Separator)
{
    QStringList Parts;
    QString Rest = Text;
    if (Separator.isEmpty())
        return {Rest.trimmed()};
    qsizetype At;
    while ((At = Rest.indexOf(Separator)) >= 0) {
        Parts.append(Rest.left(At).trimmed());
        Rest = Rest.mid(At + Separator.size());
    }
    Rest = Rest.trimmed();
    if (!Rest.isEmpty())
        Parts.append(Rest);
    return Parts;
}

TLanguage::TLanguage(QObject* Owner)
    : QObject(Owner)
    , MainComponent(Owner)
{
    setObjectName(QStringLiteral("Language"));
    if (Owner) {
        Section = QString::fromLatin1(Owner->metaObject()->className()).mid(1);
    } else {
        Section = QStringLiteral("Main");
    }
}

TLanguage::~TLanguage()
{
    if (State().Global == this)
        State().Global = nullptr;
}

void TLanguage::SetSeparator(const QString& Value)
{
    FSeparator = Value.trimmed().isEmpty() ? QStringLiteral(";") : Value;
}

QString TLanguage::FromFile(const QString& Value) const
{
    QString Text = Value;
    if (!LineSeparator.isEmpty())
        Text.replace(LineSeparator, QStringLiteral("\n"));
    return Text;
}

void TLanguage::ReadHeader(const TIniFile& Ini)
{
    if (Ini.ValueExists(HeaderSection, HeaderNameKey))
        SavedLanguageName = Ini.ReadString(HeaderSection, HeaderNameKey, SavedLanguageName);
    if (Ini.ValueExists(HeaderSection, HeaderHelpKey))
        HelpFile = Ini.ReadString(HeaderSection, HeaderHelpKey, HelpFile);
}

bool TLanguage::IsIgnored(const QObject* Component, const QString& PropertyPath) const
{
    const QString Name = Component->objectName();
    const QString WithPath = Name + u'.' + PropertyPath;
    for (const QString& Entry : IngnoreList) {
        const QString Item = Entry.trimmed();
        if (Item.compare(Name, Qt::CaseInsensitive) == 0 || Item.compare(WithPath, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void TLanguage::ApplyPair(const QString& RawKey, const QString& Value)
{
    QStringList Segments = RawKey.trimmed().split(u'.');
    // The first segment names the window; it is not compared.
    Segments.removeFirst();
    if (Segments.isEmpty() || !MainComponent)
        return;
    QObject* Component = MainComponent;
    while (Segments.size() > 1) {
        QObject* Child = FindComponent(Component, Segments.first());
        if (!Child)
            break;
        Component = Child;
        Segments.removeFirst();
    }
    const QString PropertyPath = Segments.join(u'.');
    if (Value.isEmpty() || Component == this || IsIgnored(Component, PropertyPath))
        return;
    // Nested properties (a component that was not found, a property of a property) are not
    // translated.
    if (Segments.size() != 1)
        return;
    const std::optional<TLanguageProperty> Property = FindProperty(Component, PropertyPath);
    if (!Property)
        return;
    try {
        const QStringList Current = Property->Get();
        QString NewValue = Value;
        if (OnLoadLanguage)
            OnLoadLanguage(*this, Component, NewValue,
                           Property->IsList ? Current.join(FSeparator) : Current.value(0), PropertyPath);
        if (!Property->IsList) {
            Property->Set({FromFile(NewValue)});
            return;
        }
        // Each part replaces the item of the same index; parts beyond the items are dropped.
        QStringList Items = Current;
        const QStringList Parts = SplitLanguageValue(NewValue, FSeparator);
        for (qsizetype I = 0; I < Parts.size() && I < Items.size(); ++I)
            Items[I] = FromFile(Parts.at(I));
        Property->Set(Items);
    } catch (...) {
        // A value that cannot be set is skipped; the next pair is processed.
    }
}

void TLanguage::ApplyMessages(const TIniFile& Ini)
{
    const bool Global = State().Global == this;
    for (const auto& [Key, Text] : Ini.ReadSectionValues(MessagesSection)) {
        if (Global)
            SetMessageText(Key, FromFile(Text));
        else
            FMessages.SetText(Key, FromFile(Text));
    }
    if (Global) {
        RebuildMessageStrings();
        MessageStrings = ::MessageStrings();
    } else {
        MessageStrings = FMessages.ToMessageStrings();
    }
}

void TLanguage::Load()
{
    if (LanguageFile.isEmpty() || !QFileInfo(LanguageFile).isFile())
        return;
    const TIniFile Ini(LanguageFile);
    if (OnBeforeLoadLanguage)
        OnBeforeLoadLanguage(*this);
    ReadHeader(Ini);
    for (const auto& [Key, Value] : Ini.ReadSectionValues(Section))
        ApplyPair(Key, Value);
    ApplyMessages(Ini);
    if (OnAfterLoadLanguage)
        OnAfterLoadLanguage(*this);
}

void TLanguage::LoadMessages()
{
    if (LanguageFile.isEmpty() || !QFileInfo(LanguageFile).isFile())
        return;
    const TIniFile Ini(LanguageFile);
    ReadHeader(Ini);
    ApplyMessages(Ini);
}

namespace Language {

TLanguageList ListLanguageFiles(const QString& Folder, const QString& Prefix)
{
    TLanguageList List;
    QDir Dir(Folder);
    QStringList Names = Dir.entryList({Prefix + QStringLiteral("*.lng")}, QDir::Files, QDir::Name);
    for (const QString& Name : Names) {
        const QString Path = QDir::cleanPath(Dir.absoluteFilePath(Name));
        const TIniFile Ini(Path);
        const QString Display = Ini.ReadString(HeaderSection, HeaderNameKey, QString());
        if (Display.isEmpty())
            continue;
        List.Names.append(Display);
        List.Files.append(Path);
    }
    return List;
}

void InitLanguages(const QString& ProgramFolder, const QString& LanguageFolder, TLanguage* Global,
                   const QString& MainIniFile, const QString& SystemLocaleName)
{
    TModuleState& S = State();
    S.ProgramFolder = ProgramFolder;
    S.MainIniFile = MainIniFile;
    S.Global = Global;
    S.List = ListLanguageFiles(LanguageFolder);

    const TIniFile Ini(MainIniFile);
    QString Chosen;
    if (Ini.ValueExists(HeaderSection, HeaderNameKey)) {
        Chosen = Ini.ReadString(HeaderSection, HeaderNameKey, QString());
        if (!Chosen.isEmpty()) {
            if (QFileInfo(Chosen).isRelative())
                Chosen = QDir::cleanPath(QDir(ProgramFolder).absoluteFilePath(Chosen));
            // A program tree that was moved (or installed elsewhere) still has the chosen file
            // in its own language folder under the same name.
            if (!QFileInfo(Chosen).isFile())
                Chosen = QDir::cleanPath(QDir(LanguageFolder).absoluteFilePath(QFileInfo(Chosen).fileName()));
            if (!QFileInfo(Chosen).isFile())
                Chosen.clear();
        }
    } else {
        // A first start: an operator whose desktop is not in Russian gets English.
        const bool Russian = SystemLocaleName.isEmpty() ? DesktopLanguage() == u"ru"
                                                        : QLocale(SystemLocaleName).language() == QLocale::Russian;
        const QString English = QDir(LanguageFolder).absoluteFilePath(QString::fromLatin1(EnglishFileName));
        if (!Russian && QFileInfo(English).isFile())
            Chosen = QDir::cleanPath(English);
    }
    S.ChosenFile = Chosen;
    ApplyToolkitTranslation();
    if (Global) {
        if (Chosen.isEmpty() && DesktopMessagesLoaded)
            ResetMessageTable();
        DesktopMessagesLoaded = false;
        Global->LanguageFile = Chosen;
        Global->LoadMessages();
    }
}

QString DesktopLanguage()
{
    QString Locale;
    for (const char* Name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        Locale = qEnvironmentVariable(Name);
        if (!Locale.isEmpty())
            break;
    }
    const auto IsC = [](const QString& Name) {
        return Name.isEmpty() || Name == u"C" || Name.startsWith(u"C.") || Name == u"POSIX";
    };
    if (IsC(Locale))
        return QStringLiteral("en");
    for (const QString& Entry : qEnvironmentVariable("LANGUAGE").split(u':', Qt::SkipEmptyParts)) {
        if (!IsC(Entry)) {
            Locale = Entry;
            break;
        }
    }
    // "ru_RU.UTF-8@euro": the language is what comes before the territory, code set and modifier.
    const qsizetype End = Locale.indexOf(QRegularExpression(QStringLiteral("[_.@-]")));
    return (End < 0 ? Locale : Locale.left(End)).toLower();
}

void UseDesktopLanguage(const QString& LanguageFolder)
{
    ResetMessageTable();
    DesktopMessagesLoaded = DesktopLanguage() != u"ru";
    if (!DesktopMessagesLoaded)
        return;
    TLanguage English;
    const TIniFile Ini(QDir(LanguageFolder).absoluteFilePath(QString::fromLatin1(EnglishFileName)));
    for (const auto& [Key, Text] : Ini.ReadSectionValues(English.MessagesSection))
        SetMessageText(Key, English.FromFile(Text));
}

void ResetLanguages()
{
    if (State().Toolkit)
        QCoreApplication::removeTranslator(State().Toolkit.get());
    State() = TModuleState();
}

const TLanguageList& Languages()
{
    return State().List;
}

const QString& ChosenFile()
{
    return State().ChosenFile;
}

void SetChosenFile(const QString& FileName)
{
    State().ChosenFile = FileName;
    ApplyToolkitTranslation();
}

bool ApplyToolkitTranslation()
{
    TModuleState& S = State();
    if (!S.ChosenFile.isEmpty() || !QCoreApplication::instance()) {
        if (S.Toolkit)
            QCoreApplication::removeTranslator(S.Toolkit.get());
        S.Toolkit.reset();
        return true;
    }
    if (S.Toolkit)
        return true;
    auto Translator = std::make_unique<QTranslator>();
    if (!Translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(Translator.get());
    S.Toolkit = std::move(Translator);
    return true;
}

TLanguage* GlobalComponent()
{
    return State().Global;
}

bool SaveChoice(QString* Error)
{
    // A file inside the program folder is stored relative to it, so a moved installation keeps
    // its language.
    QString Stored = State().ChosenFile;
    if (!Stored.isEmpty() && !State().ProgramFolder.isEmpty()) {
        const QString Relative = QDir(State().ProgramFolder).relativeFilePath(Stored);
        if (!Relative.startsWith(QStringLiteral("..")))
            Stored = Relative;
    }
    TIniFile Ini(State().MainIniFile);
    Ini.WriteString(HeaderSection, HeaderNameKey, Stored);
    return Ini.UpdateFile(Error);
}

void ApplyChosenLanguage(TLanguage* Component)
{
    if (!Component)
        return;
    Component->LanguageFile = State().ChosenFile;
    Component->Load();
}

}  // namespace Language
