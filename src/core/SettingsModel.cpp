#include "core/SettingsModel.h"

#include "util/DateTime.h"
#include "util/IniFile.h"
#include "util/KeyValueText.h"

#include <cmath>

namespace {

// A layout file cannot make a view grow without bound.
constexpr int MaxStoredColumns = 256;

// Converts Value to the type of a setting; an invalid QVariant when it does not convert.
QVariant Converted(TSettingType Type, const QVariant& Value)
{
    bool Ok = false;
    switch (Type) {
    case TSettingType::Integer: {
        const int Number = Value.toInt(&Ok);
        return Ok ? QVariant(Number) : QVariant();
    }
    case TSettingType::Boolean:
        if (Value.typeId() == QMetaType::Bool)
            return Value;
        if (Value.canConvert<int>()) {
            const int Number = Value.toInt(&Ok);
            if (Ok)
                return Number != 0;
        }
        return {};
    case TSettingType::Fraction:
    case TSettingType::DateTime: {
        const double Number = Value.toDouble(&Ok);
        return Ok && std::isfinite(Number) ? QVariant(Number) : QVariant();
    }
    case TSettingType::Text:
    case TSettingType::Page:
        return Value.canConvert<QString>() ? QVariant(Value.toString()) : QVariant();
    case TSettingType::Rect:
        return Value.typeId() == QMetaType::QRect ? Value : QVariant();
    }
    return {};
}

// The four numbers of "NormPos"; each one missing or not a number keeps its current value.
QRect ParseRect(const QString& Text, const QRect& Current)
{
    int Coords[4];
    Current.getCoords(&Coords[0], &Coords[1], &Coords[2], &Coords[3]);
    const QStringList Parts = Text.split(u',');
    for (int I = 0; I < 4 && I < Parts.size(); ++I) {
        bool Ok = false;
        const int Number = Parts[I].trimmed().toInt(&Ok);
        if (Ok)
            Coords[I] = Number;
    }
    QRect Result;
    Result.setCoords(Coords[0], Coords[1], Coords[2], Coords[3]);
    return Result;
}

QString RectText(const QRect& Rect)
{
    int Left, Top, Right, Bottom;
    Rect.getCoords(&Left, &Top, &Right, &Bottom);
    return QStringLiteral("%1,%2,%3,%4").arg(Left).arg(Top).arg(Right).arg(Bottom);
}

std::optional<int> ReadOptionalInt(const TIniFile& IniFile, const QString& Section, const QString& Key)
{
    if (!IniFile.ValueExists(Section, Key))
        return std::nullopt;
    bool Ok = false;
    const int Number = IniFile.ReadString(Section, Key, QString()).toInt(&Ok);
    return Ok ? std::optional<int>(Number) : std::nullopt;
}

}  // namespace

TSettingsModel::TSettingsModel(QObject* Parent)
    : QObject(Parent)
{
    for (const TSettingDef& Def : Definitions())
        FValues.insert(QString::fromLatin1(Def.Key), Def.Default);
}

const QList<TSettingDef>& TSettingsModel::Definitions()
{
    using T = TSettingType;
    namespace K = SettingKey;
    static const QList<TSettingDef> Defs = {
        {K::NormPos, T::Rect, QRect()},
        {K::ShowCmd, T::Integer, 1},
        {K::PageControl_ActivePage, T::Page, QStringLiteral("SamplesSheet")},
        {K::LogCount_Value, T::Fraction, 30.0},
        {K::ProgIcon_ItemIndex, T::Integer, 0},
        {K::PageControl_Height, T::Integer, 505},
        {K::Led_PositionMin, T::Fraction, -24.0},
        {K::LogFileCreate_Checked, T::Boolean, false},
        {K::ExternalWait_Checked, T::Boolean, false},
        {K::EmailMessagesCheck_Checked, T::Boolean, false},
        {K::MsgCommandCheck_Checked, T::Boolean, false},
        {K::MsgDetectSampleCheck_Checked, T::Boolean, false},
        {K::MsgErrorCheck_Checked, T::Boolean, false},
        {K::MsgOnOffSampleCheck_Checked, T::Boolean, false},
        {K::SMTPHostEdit_Text, T::Text, QString()},
        {K::SMTPPortEdit_Text, T::Text, QStringLiteral("25")},
        {K::SMTPUserEdit_Text, T::Text, QString()},
        {K::SMTPPasswordEdit_Text, T::Text, QString()},
        {K::MsgSubjectCheck_Checked, T::Boolean, true},
        {K::EmailFromEdit_Text, T::Text, QString()},
        {K::EmailToEdit_Text, T::Text, QString()},
        {K::Check_RunMinimized_Checked, T::Boolean, false},
        {K::MsgNotDetectSampleCheck_Checked, T::Boolean, false},
        {K::Check_EMail_UseSSL_Checked, T::Boolean, false},
        {K::Edit_Email_Subject_Text, T::Text, QString()},
        {K::Check_AutoUpdates_Checked, T::Boolean, true},
        {K::Check_Config_Backup_Auto_Checked, T::Boolean, false},
        {K::Check_Config_Backup_OnExit_Checked, T::Boolean, false},
        {K::Check_Config_Data_Log_Checked, T::Boolean, true},
        {K::Check_Config_Data_Settings_Checked, T::Boolean, true},
        {K::Check_Config_DeleteOld_Checked, T::Boolean, true},
        {K::Edit_Config_Backup_Interval_Value, T::Fraction, 7.0},
        {K::Edit_Config_Backup_Time_Time, T::Fraction, 0.0},
        {K::Edit_Config_BackupFolder_Text, T::Text, QString()},
        {K::Edit_Config_DeleteOld_Count_Value, T::Fraction, 5.0},
        {K::PageControl_Email_ActivePage, T::Page, QStringLiteral("Tab_Email_Messages")},
        {K::Device, T::Integer, 0},
        {K::DeviceName, T::Text, QString()},
        {K::Config_Last_Backup_Time, T::DateTime, 0.0},
        {K::WebUpdate_LastCheckTime, T::DateTime, 0.0},
        {K::WebUpdate_LastVersion, T::Text, QString()},
    };
    return Defs;
}

const TSettingDef* TSettingsModel::Find(const QString& Key)
{
    for (const TSettingDef& Def : Definitions()) {
        if (Key == QLatin1String(Def.Key))
            return &Def;
    }
    return nullptr;
}

QVariant TSettingsModel::Value(const QString& Key) const
{
    return FValues.value(Key);
}

bool TSettingsModel::SetValue(const QString& Key, const QVariant& Value)
{
    const TSettingDef* Def = Find(Key);
    if (!Def)
        return false;
    const QVariant NewValue = Converted(Def->Type, Value);
    if (!NewValue.isValid())
        return false;
    QVariant& Current = FValues[Key];
    if (Current != NewValue) {
        Current = NewValue;
        emit Changed(Key);
    }
    return true;
}

int TSettingsModel::Int(const QString& Key) const
{
    const QVariant V = FValues.value(Key);
    return V.typeId() == QMetaType::Int ? V.toInt() : 0;
}

bool TSettingsModel::Bool(const QString& Key) const
{
    const QVariant V = FValues.value(Key);
    return V.typeId() == QMetaType::Bool && V.toBool();
}

double TSettingsModel::Float(const QString& Key) const
{
    const QVariant V = FValues.value(Key);
    return V.typeId() == QMetaType::Double ? V.toDouble() : 0.0;
}

QString TSettingsModel::Text(const QString& Key) const
{
    const QVariant V = FValues.value(Key);
    return V.typeId() == QMetaType::QString ? V.toString() : QString();
}

QRect TSettingsModel::Rect(const QString& Key) const
{
    const QVariant V = FValues.value(Key);
    return V.typeId() == QMetaType::QRect ? V.toRect() : QRect();
}

void TSettingsModel::ResetToDefaults()
{
    for (const TSettingDef& Def : Definitions())
        SetValue(QString::fromLatin1(Def.Key), Def.Default);
}

void TSettingsModel::SelectDevice(int Index, const QStringList& DeviceNames)
{
    SetInt(SettingKey::Device, Index);
    SetText(SettingKey::DeviceName, Index >= 1 && Index <= DeviceNames.size() ? DeviceNames[Index - 1] : QString());
}

void TSettingsModel::ResolveDevice(const QStringList& DeviceNames)
{
    const QString Name = Text(SettingKey::DeviceName);
    const int Listed = Name.isEmpty() ? -1 : int(DeviceNames.indexOf(Name));
    if (Listed >= 0) {
        SetInt(SettingKey::Device, Listed + 1);
        return;
    }
    if (!Name.isEmpty() || Int(SettingKey::Device) > DeviceNames.size())
        SetInt(SettingKey::Device, -1);
}

void TSettingsModel::ReadFrom(const TIniFile& IniFile)
{
    for (const TSettingDef& Def : Definitions()) {
        const QString Key = QString::fromLatin1(Def.Key);
        if (!IniFile.ValueExists(Section, Key))
            continue;
        const QString Raw = IniFile.ReadString(Section, Key, QString());
        bool Ok = false;
        switch (Def.Type) {
        case TSettingType::Integer: {
            const int Number = Raw.toInt(&Ok);
            if (Key == QLatin1String(SettingKey::Device)) {
                // The selector cannot show a negative index: any such value selects the default
                // device. A value that is not a number keeps the current selection.
                if (Ok)
                    SetInt(Key, std::max(Number, 0));
            } else {
                SetInt(Key, Ok ? Number : 0);
            }
            break;
        }
        case TSettingType::Boolean:
            if (Raw.compare(u"True", Qt::CaseInsensitive) == 0)
                SetBool(Key, true);
            else if (Raw.compare(u"False", Qt::CaseInsensitive) == 0)
                SetBool(Key, false);
            break;
        case TSettingType::Fraction: {
            double Number = 0;
            if (TextToFloat(Raw, Number))
                SetFloat(Key, Number);
            break;
        }
        case TSettingType::Text:
            SetText(Key, Raw);
            break;
        case TSettingType::Page:
            SetText(Key, Raw == u"(null)" ? QString() : Raw);
            break;
        case TSettingType::DateTime:
            SetFloat(Key, StrToDateTimeDef(Raw, 0));
            break;
        case TSettingType::Rect: {
            const QRect Stored = ParseRect(Raw, Rect(Key));
            // Only a rectangle of some width replaces the window's own.
            if (Stored.left() < Stored.right())
                SetRect(Key, Stored);
            break;
        }
        }
    }
    emit Read();
}

void TSettingsModel::WriteTo(TIniFile& IniFile) const
{
    for (const TSettingDef& Def : Definitions()) {
        const QString Key = QString::fromLatin1(Def.Key);
        switch (Def.Type) {
        case TSettingType::Integer: IniFile.WriteInteger(Section, Key, Int(Key)); break;
        case TSettingType::Boolean: IniFile.WriteBool(Section, Key, Bool(Key)); break;
        case TSettingType::Fraction: IniFile.WriteFloat(Section, Key, Float(Key)); break;
        case TSettingType::Text:
        case TSettingType::Page: IniFile.WriteString(Section, Key, Text(Key)); break;
        case TSettingType::DateTime:
            IniFile.WriteString(Section, Key, FormatDateTime(SettingsDateTimeFormat, Float(Key)));
            break;
        case TSettingType::Rect: IniFile.WriteString(Section, Key, RectText(Rect(Key))); break;
        }
    }
}

void TSettingsModel::SetColumnLayout(const QString& View, const TColumnLayout& Layout)
{
    if (FLayouts.value(View) == Layout)
        return;
    FLayouts.insert(View, Layout);
    emit ColumnLayoutChanged(View);
}

void TSettingsModel::ReadColumnLayouts(const TIniFile& IniFile)
{
    // The sample and message views: only a positive "Count" is a layout.
    for (const QString& View : {QString(ColumnView::SampleView), QString(ColumnView::MessageView)}) {
        TColumnLayout Layout;
        const int Count = std::min(IniFile.ReadInteger(View, QStringLiteral("Count"), 0), MaxStoredColumns);
        if (Count > 0) {
            Layout.Present = true;
            for (int I = 0; I < Count; ++I) {
                Layout.Columns.append({ReadOptionalInt(IniFile, View, QStringLiteral("Id%1").arg(I)),
                                       ReadOptionalInt(IniFile, View, QStringLiteral("Width%1").arg(I))});
            }
        }
        SetColumnLayout(View, Layout);
    }
    // The frequency view takes any "Count" and the "Width[i]" keys of older files first.
    const QString View = ColumnView::FrequencyView;
    TColumnLayout Layout;
    if (const std::optional<int> Count = ReadOptionalInt(IniFile, View, QStringLiteral("Count"))) {
        Layout.Present = true;
        const int Columns = std::clamp(*Count, 0, MaxStoredColumns);
        for (int I = 0; I < Columns; ++I) {
            std::optional<int> Width = ReadOptionalInt(IniFile, View, QStringLiteral("Width[%1]").arg(I));
            if (!Width)
                Width = ReadOptionalInt(IniFile, View, QStringLiteral("Width%1").arg(I));
            Layout.Columns.append({ReadOptionalInt(IniFile, View, QStringLiteral("Id%1").arg(I)), Width});
        }
    }
    SetColumnLayout(View, Layout);
}

void TSettingsModel::WriteColumnLayouts(TIniFile& IniFile) const
{
    // Each section is erased and written again, so it moves to the end of the file: writing in
    // a fixed order keeps the file the same from one save to the next.
    for (const QString& View : {QString(ColumnView::SampleView), QString(ColumnView::MessageView),
                               QString(ColumnView::FrequencyView)}) {
        const TColumnLayout Layout = FLayouts.value(View);
        if (!Layout.Present)
            continue;
        const bool Frequency = View == QLatin1String(ColumnView::FrequencyView);
        IniFile.EraseSection(View);
        IniFile.WriteInteger(View, QStringLiteral("Count"), int(Layout.Columns.size()));
        for (int I = 0; I < Layout.Columns.size(); ++I) {
            const TColumnSetting& Column = Layout.Columns[I];
            const QString IdKey = QStringLiteral("Id%1").arg(I);
            const QString WidthKey = QStringLiteral("Width%1").arg(I);
            if (Frequency) {
                if (Column.Width)
                    IniFile.WriteInteger(View, WidthKey, *Column.Width);
                if (Column.Id && *Column.Id != 0)
                    IniFile.WriteInteger(View, IdKey, *Column.Id);
            } else {
                if (Column.Id)
                    IniFile.WriteInteger(View, IdKey, *Column.Id);
                if (Column.Width)
                    IniFile.WriteInteger(View, WidthKey, *Column.Width);
            }
        }
    }
}
