#include "app/SettingsBinding.h"

#include "widgets/KvListView.h"
#include "widgets/LedMeter.h"
#include "widgets/RadioGroup.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QTime>
#include <QTimeEdit>

#include <cmath>

TSettingBinding SplitSettingKey(const QString& Key)
{
    const qsizetype Split = Key.lastIndexOf('_');
    if (Split <= 0)
        return {Key, {}, {}};
    return {Key, Key.left(Split), Key.mid(Split + 1)};
}

TSettingsBinding::TSettingsBinding(TSettingsModel* Model, QWidget* Window)
    : QObject(Window), FModel(Model), FWindow(Window)
{
    // The placement and the stored values live in the model only; the window applies them itself.
    const QStringList Values{SettingKey::NormPos, SettingKey::ShowCmd, SettingKey::Device, SettingKey::DeviceName,
                             SettingKey::Config_Last_Backup_Time, SettingKey::WebUpdate_LastCheckTime,
                             SettingKey::WebUpdate_LastVersion};
    for (const TSettingDef& Def : TSettingsModel::Definitions()) {
        const TSettingBinding Binding = SplitSettingKey(QString::fromLatin1(Def.Key));
        if (Binding.Component.isEmpty() || Values.contains(Binding.Key))
            continue;
        QWidget* Control = Window->findChild<QWidget*>(Binding.Component);
        if (!Control) {
            FUnbound << Binding.Key;
            continue;
        }
        Bind(Binding, Control);
    }
    connect(Model, &TSettingsModel::Changed, this, &TSettingsBinding::ShowValue);
    for (const QString& Key : FBound)
        ShowValue(Key);
}

void TSettingsBinding::Bind(const TSettingBinding& Binding, QWidget* Control)
{
    const QString Key = Binding.Key;
    bool Bound = true;
    if (auto* Check = qobject_cast<QCheckBox*>(Control); Check && Binding.Property == "Checked") {
        connect(Check, &QCheckBox::toggled, this, [this, Key](bool On) {
            if (!FShowing)
                FModel->SetBool(Key, On);
        });
    } else if (auto* Spin = qobject_cast<QSpinBox*>(Control); Spin && Binding.Property == "Value") {
        connect(Spin, &QSpinBox::valueChanged, this, [this, Key](int Value) {
            if (!FShowing)
                FModel->SetFloat(Key, Value);
        });
    } else if (auto* Edit = qobject_cast<QLineEdit*>(Control); Edit && Binding.Property == "Text") {
        connect(Edit, &QLineEdit::textChanged, this, [this, Key](const QString& Text) {
            if (!FShowing)
                FModel->SetText(Key, Text);
        });
    } else if (auto* Group = qobject_cast<TRadioGroup*>(Control); Group && Binding.Property == "ItemIndex") {
        connect(Group, &TRadioGroup::ItemIndexChanged, this, [this, Key](int Index) {
            if (!FShowing)
                FModel->SetInt(Key, Index);
        });
    } else if (auto* Time = qobject_cast<QTimeEdit*>(Control); Time && Binding.Property == "Time") {
        connect(Time, &QTimeEdit::timeChanged, this, [this, Key](QTime Value) {
            if (!FShowing)
                FModel->SetFloat(Key, Value.msecsSinceStartOfDay() / 86400000.0);
        });
    } else if (auto* Pages = qobject_cast<QTabWidget*>(Control); Pages && Binding.Property == "ActivePage") {
        connect(Pages, &QTabWidget::currentChanged, this, [this, Key, Pages](int Index) {
            if (!FShowing && Index >= 0)
                FModel->SetText(Key, Pages->widget(Index)->objectName());
        });
    } else if (Binding.Property == "Height" || (qobject_cast<TLedMeter*>(Control) && Binding.Property == "PositionMin")) {
        // Not edited in place: the page height is taken when saving, the meter's scale is
        // shown as stored.
    } else {
        Bound = false;
    }
    (Bound ? FBound : FUnbound) << Key;
}

void TSettingsBinding::ShowValue(const QString& Key)
{
    if (!FBound.contains(Key))
        return;
    const TSettingBinding Binding = SplitSettingKey(Key);
    QWidget* Control = FWindow->findChild<QWidget*>(Binding.Component);
    if (!Control)
        return;
    // Handlers of the controls still run (a restored appearance takes effect), but the value
    // shown is not written back while it is being shown.
    FShowing = true;
    if (auto* Check = qobject_cast<QCheckBox*>(Control)) {
        Check->setChecked(FModel->Bool(Key));
    } else if (auto* Spin = qobject_cast<QSpinBox*>(Control)) {
        // Fractions are cut toward zero; the control's range holds what it can show.
        const double Value = FModel->Float(Key);
        Spin->setValue(int(std::clamp(std::trunc(Value), double(Spin->minimum()), double(Spin->maximum()))));
    } else if (auto* Edit = qobject_cast<QLineEdit*>(Control)) {
        if (Edit->text() != FModel->Text(Key))
            Edit->setText(FModel->Text(Key));
    } else if (auto* Group = qobject_cast<TRadioGroup*>(Control)) {
        Group->SetItemIndex(FModel->Int(Key));
    } else if (auto* Time = qobject_cast<QTimeEdit*>(Control)) {
        const double Day = FModel->Float(Key);
        const double Fraction = Day - std::floor(Day);
        Time->setTime(QTime::fromMSecsSinceStartOfDay(int(std::lround(Fraction * 86400000.0)) % 86400000));
    } else if (auto* Pages = qobject_cast<QTabWidget*>(Control)) {
        // A name that is no page of this control leaves the page as it is.
        if (QWidget* Page = Pages->findChild<QWidget*>(FModel->Text(Key)); Page && Pages->indexOf(Page) >= 0)
            Pages->setCurrentWidget(Page);
    } else if (auto* Meter = qobject_cast<TLedMeter*>(Control)) {
        const double Minimum = FModel->Float(Key);
        // A scale needs room below its top (0 dB); anything else keeps the meter usable.
        if (Minimum < Meter->PositionMax())
            Meter->SetPositionMin(Minimum);
    }
    FShowing = false;
}

TColumnLayout ViewColumnLayout(const TKvListView& View)
{
    TColumnLayout Layout;
    Layout.Present = true;
    for (const TKvColumnLayout& Column : View.ColumnLayout())
        Layout.Columns.append({Column.Tag, Column.Width});
    return Layout;
}

void ApplyColumnLayout(const TColumnLayout& Layout, TKvListView& View, bool ExactCount)
{
    if (!Layout.Present)
        return;
    const int Count = int(Layout.Columns.size());
    while (View.ColumnCount() < Count)
        View.AddColumn(QString(), 64);
    while (ExactCount && View.ColumnCount() > Count)
        View.RemoveLastColumn();
    for (int I = 0; I < Count; ++I) {
        const TColumnSetting& Column = Layout.Columns[I];
        if (Column.Width)
            View.setColumnWidth(I, std::clamp(*Column.Width, 0, 10000));
        if (ExactCount && Column.Id)
            View.SetColumnTag(I, *Column.Id);
    }
}
