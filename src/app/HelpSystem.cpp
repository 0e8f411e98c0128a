#include "app/HelpSystem.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QWidget>

#include <utility>

namespace Help {

const std::vector<THelpTopic>& Topics()
{
    static const std::vector<THelpTopic> Table = {
        {ContentsContext, "index.html", ""},
        {MainWindowContext, "main-window.html", "main-window"},
        {PagesContext, "main-window.html", "pages"},
        {SampleDialogContext, "sample-dialog.html", "sample-dialog"},
        {ProgramPanelContext, "settings-program.html", "settings-program"},
        {RecordPanelContext, "settings-recognition.html", "settings-recognition"},
        {FrequencyPanelContext, "settings-frequencies.html", "settings-frequencies"},
        {FrequencyDialogContext, "settings-frequencies.html", "frequency-dialog"},
        {EmailPanelContext, "settings-email.html", "settings-email"},
        {ConfigPanelContext, "settings-config.html", "settings-config"},
        {StartingContext, "setup.html", "setup"},
        {FAQContext, "faq.html", "faq"},
    };
    return Table;
}

const std::vector<THelpPart>& Parts()
{
    // Looked up from the focused control outwards, so a settings panel wins over the settings
    // page it lies on, and the page over the window.
    static const std::vector<THelpPart> Table = {
        {"Settings_Program", ProgramPanelContext},
        {"Settings_Record", RecordPanelContext},
        {"Settings_Frequency", FrequencyPanelContext},
        {"Settings_Email", EmailPanelContext},
        {"Settings_Config", ConfigPanelContext},
        {"Tree", PagesContext},
        {"SamplesSheet", PagesContext},
        {"SettingsSheet", PagesContext},
        {"TOndrix", MainWindowContext},
        {"TSamplePropertyForm", SampleDialogContext},
        {"TFrequencyProp", FrequencyDialogContext},
        // A program error: the questions page says what to do about one.
        {"TExceptionDialog", FAQContext},
    };
    return Table;
}

int ContextOf(const QWidget* Widget)
{
    for (const QWidget* Part = Widget; Part; Part = Part->parentWidget()) {
        const QString Name = Part->objectName();
        const char* ClassName = Part->metaObject()->className();
        for (const THelpPart& Entry : Parts())
            if (Name == QLatin1String(Entry.Name) || qstrcmp(ClassName, Entry.Name) == 0)
                return Entry.Context;
        // A dialog the table does not name (about, what's new) opens the contents rather than
        // the page of the window that opened it.
        if (Part->isWindow() && Part->parentWidget())
            return ContentsContext;
    }
    return ContentsContext;
}

bool Available(const QString& Root)
{
    return !Root.isEmpty() && QFileInfo(Root + BuiltInFolder + "/index.html").isFile();
}

QString LanguageFolder(const QString& Root, const QString& HelpFile)
{
    if (!Available(Root))
        return QString();
    const QString Chosen = HelpFile.trimmed();
    // Only a plain folder name: a language file must not lead the browser elsewhere.
    if (!Chosen.isEmpty() && !Chosen.contains('/') && !Chosen.contains('\\') && Chosen != "." && Chosen != ".."
        && QFileInfo(Root + Chosen + "/index.html").isFile())
        return Root + Chosen + "/";
    return Root + BuiltInFolder + "/";
}

QUrl TopicUrl(const QString& Root, const QString& HelpFile, int Context)
{
    const QString Folder = LanguageFolder(Root, HelpFile);
    if (Folder.isEmpty())
        return QUrl();
    for (const THelpTopic& Topic : Topics()) {
        if (Topic.Context != Context)
            continue;
        QUrl Page = QUrl::fromLocalFile(Folder + Topic.Page);
        if (*Topic.Anchor)
            Page.setFragment(QString::fromLatin1(Topic.Anchor));
        return Page;
    }
    return QUrl();
}

}  // namespace Help

THelpSystem::THelpSystem(QString Root, std::function<QString()> HelpFile, QObject* Parent)
    : QObject(Parent), FRoot(std::move(Root)), FHelpFile(std::move(HelpFile))
{
    qApp->installEventFilter(this);
}

THelpSystem::~THelpSystem()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool THelpSystem::ShowTopic(int Context)
{
    const QUrl Page = Help::TopicUrl(FRoot, FHelpFile ? FHelpFile() : QString(), Context);
    return !Page.isEmpty() && QDesktopServices::openUrl(Page);
}

bool THelpSystem::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Event->type() != QEvent::KeyPress || !Watched->isWidgetType())
        return false;
    const auto* Key = static_cast<QKeyEvent*>(Event);
    if (Key->key() != Qt::Key_F1 || Key->modifiers() != Qt::NoModifier || !Available())
        return false;
    ShowTopic(Help::ContextOf(static_cast<QWidget*>(Watched)));
    return true;
}
