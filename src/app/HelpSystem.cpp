#include "app/HelpSystem.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QWidget>

#include <utility>

#include "lang/Lang.h"
#include "lang/Language_Forms.h"

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

namespace {

// The settings page shows one settings panel at a time, chosen in its tree. Its tree and the
// page itself are where the keyboard rests right after a panel was chosen, so F1 there is
// about the panel shown: its context, or none when no panel is shown.
int ShownPanelContext(const QWidget* Part)
{
    const QWidget* Sheet = Part;
    while (Sheet && Sheet->objectName() != QLatin1String("SettingsSheet"))
        Sheet = Sheet->parentWidget();
    if (!Sheet)
        return -1;
    for (const THelpPart& Entry : Parts()) {
        if (Entry.Context == PagesContext)
            continue;  // the tree and the page themselves
        const auto* Panel = Sheet->findChild<QWidget*>(QLatin1String(Entry.Name));
        if (Panel && Panel->isVisibleTo(Sheet))
            return Entry.Context;
    }
    return -1;
}

}  // namespace

int ContextOf(const QWidget* Widget)
{
    for (const QWidget* Part = Widget; Part; Part = Part->parentWidget()) {
        const QString Name = Part->objectName();
        const char* ClassName = Part->metaObject()->className();
        for (const THelpPart& Entry : Parts())
            if (Name == QLatin1String(Entry.Name) || qstrcmp(ClassName, Entry.Name) == 0) {
                if (Entry.Context == PagesContext)
                    if (const int Panel = ShownPanelContext(Part); Panel >= 0)
                        return Panel;
                return Entry.Context;
            }
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

bool THelpSystem::ShowTopic(int Context, QWidget* From)
{
    const QUrl Page = Help::TopicUrl(FRoot, FHelpFile ? FHelpFile() : QString(), Context);
    if (Page.isEmpty())
        return false;
    if (QDesktopServices::openUrl(Page))
        return true;
    // No launcher could be started (xdg-open missing, say): Qt only writes a line on standard
    // error, so the operator is told here, with the page's file to open by hand.
    QWidget* Parent = From ? From->window() : QApplication::activeWindow();
    ShowMessageBox(Parent, TMessageBoxType::Warning, FormatMessageText(QStringLiteral("HelpNotOpened"), {Page.toLocalFile()}));
    return false;
}

bool THelpSystem::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Event->type() != QEvent::KeyPress || !Watched->isWidgetType())
        return false;
    const auto* Key = static_cast<QKeyEvent*>(Event);
    if (Key->key() != Qt::Key_F1 || Key->modifiers() != Qt::NoModifier || !Available())
        return false;
    auto* Focus = static_cast<QWidget*>(Watched);
    ShowTopic(Help::ContextOf(Focus), Focus);
    return true;
}
