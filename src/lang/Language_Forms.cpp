#include "lang/Language_Forms.h"

#include "lang/Language_Functions.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace {

bool SameName(const QString& A, const char* B)
{
    return A.compare(QLatin1String(B), Qt::CaseInsensitive) == 0;
}

TLanguageProperty ListProperty(std::function<QStringList()> Get, std::function<void(const QStringList&)> Set)
{
    TLanguageProperty Property;
    Property.IsList = true;
    Property.Get = std::move(Get);
    Property.Set = std::move(Set);
    return Property;
}

std::optional<TLanguageProperty> ComboItems(QComboBox* Combo)
{
    return ListProperty(
        [Combo] {
            QStringList Items;
            for (int I = 0; I < Combo->count(); ++I)
                Items.append(Combo->itemText(I));
            return Items;
        },
        [Combo](const QStringList& Items) {
            // Setting the texts keeps the selection; the index is restored all the same.
            const int Selected = Combo->currentIndex();
            for (int I = 0; I < Combo->count() && I < Items.size(); ++I)
                Combo->setItemText(I, Items.at(I));
            Combo->setCurrentIndex(Selected);
        });
}

std::optional<TLanguageProperty> ListItems(QListWidget* List)
{
    return ListProperty(
        [List] {
            QStringList Items;
            for (int I = 0; I < List->count(); ++I)
                Items.append(List->item(I)->text());
            return Items;
        },
        [List](const QStringList& Items) {
            for (int I = 0; I < List->count() && I < Items.size(); ++I)
                List->item(I)->setText(Items.at(I));
        });
}

std::optional<TLanguageProperty> TreeItems(QTreeWidget* Tree)
{
    return ListProperty(
        [Tree] {
            QStringList Items;
            for (QTreeWidgetItemIterator It(Tree); *It; ++It)
                Items.append((*It)->text(0));
            return Items;
        },
        [Tree](const QStringList& Items) {
            int I = 0;
            for (QTreeWidgetItemIterator It(Tree); *It && I < Items.size(); ++It, ++I)
                (*It)->setText(0, Items.at(I));
        });
}

std::optional<TLanguageProperty> RadioItems(QWidget* Group)
{
    const QList<QRadioButton*> Buttons = Group->findChildren<QRadioButton*>();
    if (Buttons.isEmpty())
        return std::nullopt;
    return ListProperty(
        [Buttons] {
            QStringList Items;
            for (const QRadioButton* Button : Buttons)
                Items.append(Button->text());
            return Items;
        },
        [Buttons](const QStringList& Items) {
            for (qsizetype I = 0; I < Buttons.size() && I < Items.size(); ++I)
                Buttons.at(I)->setText(Items.at(I));
        });
}

std::optional<TLanguageProperty> ViewColumns(QAbstractItemView* View)
{
    if (!View->model())
        return std::nullopt;
    return ListProperty(
        [View] {
            QStringList Items;
            QAbstractItemModel* Model = View->model();
            for (int I = 0; Model && I < Model->columnCount(); ++I)
                Items.append(Model->headerData(I, Qt::Horizontal).toString());
            return Items;
        },
        [View](const QStringList& Items) {
            QAbstractItemModel* Model = View->model();
            for (int I = 0; Model && I < Model->columnCount() && I < Items.size(); ++I)
                Model->setHeaderData(I, Qt::Horizontal, Items.at(I));
        });
}

// The tab widget a page belongs to (its parent is the tab widget's page stack), or nullptr.
QTabWidget* TabsOfPage(QWidget* Page)
{
    QWidget* Stack = Page->parentWidget();
    if (!qobject_cast<QStackedWidget*>(Stack))
        return nullptr;
    return qobject_cast<QTabWidget*>(Stack->parentWidget());
}

std::optional<TLanguageProperty> WidgetProperty(QObject* Component, const QString& Name)
{
    QWidget* Widget = qobject_cast<QWidget*>(Component);
    if (!Widget)
        return std::nullopt;
    if (SameName(Name, "Items")) {
        if (auto* Combo = qobject_cast<QComboBox*>(Widget))
            return ComboItems(Combo);
        if (auto* List = qobject_cast<QListWidget*>(Widget))
            return ListItems(List);
        if (auto* Tree = qobject_cast<QTreeWidget*>(Widget))
            return TreeItems(Tree);
        return RadioItems(Widget);
    }
    if (SameName(Name, "Columns")) {
        if (auto* View = qobject_cast<QAbstractItemView*>(Widget))
            return ViewColumns(View);
        return std::nullopt;
    }
    if (SameName(Name, "tabText")) {
        QTabWidget* Tabs = TabsOfPage(Widget);
        if (!Tabs)
            return std::nullopt;
        TLanguageProperty Property;
        Property.Get = [Tabs, Widget] { return QStringList{Tabs->tabText(Tabs->indexOf(Widget))}; };
        Property.Set = [Tabs, Widget](const QStringList& Value) {
            Tabs->setTabText(Tabs->indexOf(Widget), Value.value(0));
        };
        return Property;
    }
    return std::nullopt;
}

const char* const LanguageItemTag = "OndrixLanguageFile";

}  // namespace

void RegisterWidgetLanguageProperties()
{
    static bool Registered = false;
    if (Registered)
        return;
    Registered = true;
    RegisterLanguagePropertyResolver(WidgetProperty);
    // A pop-up (a menu of the window) belongs to the window that opens it.
    SetLanguageWindowTest([](QObject* Object) {
        const auto* Widget = qobject_cast<QWidget*>(Object);
        return Widget && Widget->isWindow() && Widget->windowType() != Qt::Popup;
    });
}

TLanguage* FindLanguageComponent(QWidget* Window)
{
    if (!Window)
        return nullptr;
    const QList<TLanguage*> Found = Window->findChildren<TLanguage*>(Qt::FindDirectChildrenOnly);
    return Found.isEmpty() ? nullptr : Found.last();
}

void ApplyLanguageToWindow(QWidget* Window)
{
    RegisterWidgetLanguageProperties();
    Language::ApplyChosenLanguage(FindLanguageComponent(Window));
}

void ApplyLanguageToAllWindows()
{
    TLanguage* Global = Language::GlobalComponent();
    bool GlobalApplied = false;
    for (QWidget* Window : QApplication::topLevelWidgets()) {
        TLanguage* Component = FindLanguageComponent(Window);
        if (!Component)
            continue;
        ApplyLanguageToWindow(Window);
        GlobalApplied = GlobalApplied || Component == Global;
    }
    // The messages follow the choice even when their component belongs to no open window.
    if (Global && !GlobalApplied)
        Language::ApplyChosenLanguage(Global);
}

int ShowMessageBox(QWidget* Parent, TMessageBoxType Type, const QString& Text, std::initializer_list<int> Buttons,
                   int Default)
{
    struct TKind {
        QMessageBox::Icon Icon;
        const char* Caption;
    };
    static const TKind Kinds[] = {
        {QMessageBox::NoIcon, nullptr},          {QMessageBox::Information, "Attention"},
        {QMessageBox::Warning, "Warning"},        {QMessageBox::Critical, "Error"},
        {QMessageBox::Information, "Information"}, {QMessageBox::Critical, "Error"},
        {QMessageBox::Question, "Question"},
    };
    const int Index = int(Type);
    const TKind& Kind = Kinds[Index >= 0 && Index < int(std::size(Kinds)) ? Index : 0];
    QMessageBox Box(Kind.Icon, Kind.Caption ? GetMessageText(QString::fromLatin1(Kind.Caption)) : QString(),
                    QString(Text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), QMessageBox::NoButton, Parent);
    const QList<int> Chosen = Buttons.size() > 0 ? QList<int>(Buttons) : QList<int>{mbOK};
    QList<std::pair<QPushButton*, int>> Added;
    for (const int Button : Chosen) {
        QString Caption;
        QMessageBox::ButtonRole Role = QMessageBox::AcceptRole;
        switch (Button) {
        case mbYes:
            Caption = GetMessageText(QStringLiteral("Yes"));
            Role = QMessageBox::YesRole;
            break;
        case mbNo:
            Caption = GetMessageText(QStringLiteral("No"));
            Role = QMessageBox::NoRole;
            break;
        case mbCancel:
            Caption = GetMessageText(QStringLiteral("Cancel"));
            Role = QMessageBox::RejectRole;
            break;
        default:
            Caption = QStringLiteral("OK");
            break;
        }
        Added.append({Box.addButton(Caption, Role), Button});
    }
    auto ButtonFor = [&](int Code) -> QPushButton* {
        for (const auto& [Push, Result] : Added)
            if (Result == Code)
                return Push;
        return nullptr;
    };
    QPushButton* Initial = ButtonFor(Default);
    Box.setDefaultButton(Initial ? Initial : Added.first().first);
    QPushButton* Escape = ButtonFor(mbCancel);
    if (!Escape)
        Escape = ButtonFor(mbNo);
    if (!Escape && Added.size() == 1)
        Escape = Added.first().first;
    Box.setEscapeButton(Escape);
    Box.exec();
    // Closed without a button counts as the escape button.
    QAbstractButton* Clicked = Box.clickedButton() ? Box.clickedButton() : Escape;
    for (const auto& [Push, Result] : Added)
        if (Clicked == Push)
            return Result;
    return Chosen.first();
}

bool AskQuestion(QWidget* Parent, const QString& Text)
{
    return ShowMessageBox(Parent, TMessageBoxType::Question, Text, {mbYes, mbNo}) == mbYes;
}

void FillLanguageMenu(QMenu* Menu, TLanguageMenuActions Actions)
{
    Menu->clear();
    for (QActionGroup* Old : Menu->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly))
        delete Old;
    auto* Group = new QActionGroup(Menu);
    Group->setExclusive(true);
    if (!Actions.Ask)
        Actions.Ask = [Menu](const QString& Text) { return AskQuestion(Menu->window(), Text); };

    QAction* Default = Menu->addAction(QStringLiteral("Default (Russian)"));
    Default->setObjectName(QStringLiteral("MLanguageDefault"));
    Default->setCheckable(true);
    Default->setActionGroup(Group);
    Default->setProperty(LanguageItemTag, QString());
    Menu->addSeparator();

    const Language::TLanguageList& List = Language::Languages();
    const QString ChosenName = QFileInfo(Language::ChosenFile()).fileName();
    QAction* Checked = Default;
    for (qsizetype I = 0; I < List.Files.size(); ++I) {
        QAction* Item = Menu->addAction(List.Names.at(I));
        Item->setObjectName(QStringLiteral("MLanguage%1").arg(I + 1));
        Item->setCheckable(true);
        Item->setActionGroup(Group);
        Item->setProperty(LanguageItemTag, List.Files.at(I));
        if (!ChosenName.isEmpty() && QFileInfo(List.Files.at(I)).fileName().compare(ChosenName, Qt::CaseInsensitive) == 0)
            Checked = Item;
    }
    Checked->setChecked(true);

    QObject::connect(Group, &QActionGroup::triggered, Menu, [Group, Actions](QAction* Item) {
        const QString File = Item->property(LanguageItemTag).toString();
        // The item that stands for the current choice, checked again when nothing changes.
        auto CheckCurrent = [Group] {
            const QString Current = Language::ChosenFile();
            for (QAction* Action : Group->actions())
                if (Action->property(LanguageItemTag).toString() == Current)
                    Action->setChecked(true);
        };
        if (File.isEmpty()) {
            if (Language::ChosenFile().isEmpty())
                return;
            // Built-in texts are gone once overwritten: going back needs a restart.
            if (!Actions.Ask(GetMessageText(QStringLiteral("NeedRestart")))) {
                CheckCurrent();
                return;
            }
            Language::SetChosenFile(QString());
            Language::SaveChoice();
            if (Actions.Restart)
                Actions.Restart();
            return;
        }
        if (File == Language::ChosenFile())
            return;
        Language::SetChosenFile(File);
        Language::SaveChoice();
        ApplyLanguageToAllWindows();
    });
}
