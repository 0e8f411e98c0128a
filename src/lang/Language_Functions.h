#pragma once
// Language files: every window carries one TLanguage that translates its components from the
// chosen language file, and the main window's TLanguage also overlays the message table with
// the file's messages section. The built-in texts (Russian) live in the windows themselves; a
// language file only overrides them, so going back to the built-in language needs a restart.
//
// A language file is an INI file: section "Language" (key "Language" = display name, key
// "HelpFile"), one section per window whose keys are dotted paths "Window.Component.Property"
// (or "Window.Property" for the window itself), and the messages section (key = message key).
//
// This part needs only Qt Core: it reaches components by objectName and sets their properties
// through the meta-object system. Properties the meta-object system does not describe as a
// string list (combo box items, tree nodes, list columns) come from resolvers registered by the
// widget part (lang/Language_Forms.h). Main thread only.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "lang/Lang.h"

class TIniFile;

// A property a language file can set, as the language component sees it: a text or a list of
// texts. Get gives the current value (one item for a text).
struct TLanguageProperty {
    bool IsList = false;
    std::function<QStringList()> Get;
    std::function<void(const QStringList&)> Set;
};

// Finds the property Name (compared without regard to case) of Component when it is one of the
// kinds the resolver knows; nullopt otherwise.
using TLanguagePropertyResolver =
    std::function<std::optional<TLanguageProperty>(QObject* Component, const QString& Name)>;

// Adds a resolver; resolvers are asked in the order added, before the meta-object properties.
void RegisterLanguagePropertyResolver(TLanguagePropertyResolver Resolver);

// Decides whether a child object is a window of its own, whose components a key of the parent
// window must not reach (a dialog parented to the main window). Set by the widget part.
void SetLanguageWindowTest(std::function<bool(QObject*)> IsSeparateWindow);

// Splits a value by Separator: each part before a separator is trimmed and kept even when
// empty; the rest after the last separator is trimmed and kept only when not empty.
QStringList SplitLanguageValue(const QString& Text, const QString& Separator);

class TLanguage : public QObject {
    Q_OBJECT

public:
    // Owner is the window whose components are translated (MainComponent) and whose class
    // name, without its first letter, is the default section; without an owner the section
    // is "Main".
    explicit TLanguage(QObject* Owner = nullptr);
    ~TLanguage() override;

    QStringList MessageStrings;        // built-in messages, key=text per line
    QObject* MainComponent = nullptr;  // the window translated
    QString LanguageFile = QStringLiteral("language.ini");
    QString HelpFile;
    QString LineSeparator = QStringLiteral(" ## ");
    QString Section;
    QString MessagesSection = QStringLiteral("Messages");
    QString CharacterList;
    QStringList IngnoreList;           // component names, or "component.property", never translated
    QString SavedLanguageName;

    std::function<void(TLanguage&)> OnBeforeLoadLanguage;
    std::function<void(TLanguage&)> OnAfterLoadLanguage;
    // Raised before each property is set; may change NewValue.
    std::function<void(TLanguage&, QObject* Component, QString& NewValue, const QString& CurrentValue,
                       const QString& PropertyPath)>
        OnLoadLanguage;

    const QString& Separator() const { return FSeparator; }
    // A blank or empty separator restores ";".
    void SetSeparator(const QString& Value);

    // The component's own messages (only the main window's carries any). For the global
    // component the program's message table is used instead.
    TMessageValues& Messages() { return FMessages; }

    // Reads the language file: header, window section, messages section, each raising the
    // load events around it. A missing file changes nothing.
    void Load();
    // Only the header and the messages section (the start-up step of the main window, whose
    // components are translated later by its creation handler).
    void LoadMessages();

    // Applies one window-section pair; exposed for the language tests.
    void ApplyPair(const QString& Key, const QString& Value);
    // A text as the file holds it, its LineSeparator turned into line breaks.
    QString FromFile(const QString& Value) const;

private:
    void ReadHeader(const TIniFile& Ini);
    void ApplyMessages(const TIniFile& Ini);
    bool IsIgnored(const QObject* Component, const QString& PropertyPath) const;

    QString FSeparator = QStringLiteral(";");
    TMessageValues FMessages;
};

// The language module: the list of language files, the chosen one and the global message
// component.
namespace Language {

// Display names and full paths of the listed language files, parallel lists.
struct TLanguageList {
    QStringList Names;
    QStringList Files;
};

// The file-name prefix of language files and the English file chosen on a first start.
inline constexpr const char* FilePrefix = "Ondrix";
inline constexpr const char* EnglishFileName = "OndrixEnglish.lng";

// Lists every "<Prefix>*.lng" of Folder sorted by path; a file without a display name in its
// "Language" section is left out of both lists.
TLanguageList ListLanguageFiles(const QString& Folder, const QString& Prefix = FilePrefix);

// The start-up step of the main window: remembers the program folder, the settings file and
// the global component; lists the language files; reads the stored choice (key "Language" of
// section "Language"), expanding a relative path against the program folder and clearing a
// choice whose file does not exist. When the settings file holds no such key at all and the
// system language (SystemLocaleName, else DesktopLanguage) is not Russian, the English file is
// chosen. Then the global component is
// pointed at the choice and its messages are loaded.
void InitLanguages(const QString& ProgramFolder, const QString& LanguageFolder, TLanguage* Global,
                   const QString& MainIniFile, const QString& SystemLocaleName = QString());
// The desktop's language for texts, as gettext takes it: the locale is the first of LC_ALL,
// LC_MESSAGES and LANG that is set, and LANGUAGE's first entry goes before it unless that
// locale is "C". Only the names are read, so a locale that was never generated counts too.
// The language part in lower case ("ru", "en", ...); "C", "POSIX" and nothing set give "en".
QString DesktopLanguage();
// From the first line a program prints, its messages follow the desktop's language: the
// built-in Russian for Russian, the English file of LanguageFolder for any other (the
// operator's own choice, read later with the settings, goes over it).
void UseDesktopLanguage(const QString& LanguageFolder);

// Forgets the module state and unregisters the global component (the main window is gone).
void ResetLanguages();

const TLanguageList& Languages();
// Full path of the chosen file; empty for the built-in language.
const QString& ChosenFile();
void SetChosenFile(const QString& FileName);
TLanguage* GlobalComponent();
// Writes the choice to key "Language" of section "Language" of the settings file; false with
// an error when the file cannot be written.
bool SaveChoice(QString* Error = nullptr);

// Points the component at the chosen file (possibly empty) and loads it.
void ApplyChosenLanguage(TLanguage* Component);

// Qt's own texts (the edit boxes' menus, file dialogs, standard buttons) follow the choice:
// Russian, from Qt's translations, with the built-in language; Qt's English with a language
// file. InitLanguages and SetChosenFile call it; false when the Russian ones are missing.
bool ApplyToolkitTranslation();

}  // namespace Language
