#pragma once
// The operator's manual: a folder of HTML pages beside the program, Help/<language>/, one page
// per window, settings panel and topic, the same file names and anchors in every language.
// Each part of a window has a help context number; F1 in any window opens the page of the
// context nearest to the focused control, and the Help menu opens the contents, the first
// set-up and the questions. Pages open in the desktop's browser (QDesktopServices), at the
// topic's anchor. Main thread only.

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <vector>

class QWidget;

// Where a help context leads: a page of a language folder and an anchor on it (none for the
// contents).
struct THelpTopic {
    int Context;
    const char* Page;
    const char* Anchor;
};

// A part of a window that has a help context: its objectName, or the class name of a window.
struct THelpPart {
    const char* Name;
    int Context;
};

namespace Help {

inline constexpr int ContentsContext = 0;
inline constexpr int MainWindowContext = 1001;
inline constexpr int PagesContext = 5000;  // the sample and settings pages and the settings tree
inline constexpr int SampleDialogContext = 5001;
inline constexpr int EmailPanelContext = 4001;
inline constexpr int RecordPanelContext = 4002;
inline constexpr int ProgramPanelContext = 4003;
inline constexpr int FrequencyPanelContext = 4004;
inline constexpr int FrequencyDialogContext = 4005;
inline constexpr int ConfigPanelContext = 4027;
inline constexpr int StartingContext = 2000;
inline constexpr int FAQContext = 2001;

// The built-in language's folder, used when a language file names none or names a folder that
// is not there.
inline constexpr const char* BuiltInFolder = "ru";

// Every context the program uses, each with its page and anchor.
const std::vector<THelpTopic>& Topics();

// Which window parts carry which context.
const std::vector<THelpPart>& Parts();

// The context of a control: that of the nearest part (itself, then its parents) the table
// names; the contents when none does. The settings tree and page stand for the settings panel
// they show.
int ContextOf(const QWidget* Widget);

// True when the manual of the built-in language is in Root (the help folder, ending in "/").
bool Available(const QString& Root);

// The folder of the pages in the language whose language file names HelpFile ("en"); the
// built-in language's when HelpFile is empty or its folder is missing. Empty without a manual.
QString LanguageFolder(const QString& Root, const QString& HelpFile);

// The address of a context's page (file URL, the anchor as its fragment); empty without a
// manual or for a context the table does not hold.
QUrl TopicUrl(const QString& Root, const QString& HelpFile, int Context);

}  // namespace Help

// Opens the manual: the Help menu's topics, and F1 in every window of the application (an
// event filter on the application object while this object lives).
class THelpSystem : public QObject {
    Q_OBJECT

public:
    // Root is the help folder (empty when none is installed); HelpFile gives the help folder
    // the chosen language file names, asked each time, so a change of language is followed.
    THelpSystem(QString Root, std::function<QString()> HelpFile, QObject* Parent = nullptr);
    ~THelpSystem() override;

    bool Available() const { return Help::Available(FRoot); }
    // Opens the page of a context in the browser; false when there is no manual or the
    // desktop could not open it, which a box over From's window (else the active window) says,
    // naming the page's file.
    bool ShowTopic(int Context, QWidget* From = nullptr);

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    QString FRoot;
    std::function<QString()> FHelpFile;
};
