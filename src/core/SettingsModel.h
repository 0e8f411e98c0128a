#pragma once
// The program's settings in one non-visual model: one typed value per entry of section
// "Ondrix" of the main settings file, named by its stored key (`LogCount_Value`,
// `Check_EMail_UseSSL_Checked`, "Device", ...), starting at the program's defaults, and the
// column layouts of the three list views. The main window binds each control to its value both
// ways; every other part reads the model. Loading and saving (SettingsFile.h) read and write
// the model, so the whole configuration round-trips without a window.
//
// Main thread only: the mail, backup and update threads are handed copies of what they need.

#include <QList>
#include <QMap>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

class TIniFile;

// The stored keys. Using these names rather than string literals lets the compiler catch a
// misspelt key.
namespace SettingKey {
// Placement of the main window.
inline constexpr char NormPos[] = "NormPos";
inline constexpr char ShowCmd[] = "ShowCmd";
// Stored properties of the main window's controls, in the order they are first written.
inline constexpr char PageControl_ActivePage[] = "PageControl_ActivePage";
inline constexpr char LogCount_Value[] = "LogCount_Value";
inline constexpr char ProgIcon_ItemIndex[] = "ProgIcon_ItemIndex";
inline constexpr char PageControl_Height[] = "PageControl_Height";
inline constexpr char Led_PositionMin[] = "Led_PositionMin";
inline constexpr char LogFileCreate_Checked[] = "LogFileCreate_Checked";
inline constexpr char ExternalWait_Checked[] = "ExternalWait_Checked";
inline constexpr char EmailMessagesCheck_Checked[] = "EmailMessagesCheck_Checked";
inline constexpr char MsgCommandCheck_Checked[] = "MsgCommandCheck_Checked";
inline constexpr char MsgDetectSampleCheck_Checked[] = "MsgDetectSampleCheck_Checked";
inline constexpr char MsgErrorCheck_Checked[] = "MsgErrorCheck_Checked";
inline constexpr char MsgOnOffSampleCheck_Checked[] = "MsgOnOffSampleCheck_Checked";
inline constexpr char SMTPHostEdit_Text[] = "SMTPHostEdit_Text";
inline constexpr char SMTPPortEdit_Text[] = "SMTPPortEdit_Text";
inline constexpr char SMTPUserEdit_Text[] = "SMTPUserEdit_Text";
inline constexpr char SMTPPasswordEdit_Text[] = "SMTPPasswordEdit_Text";
inline constexpr char MsgSubjectCheck_Checked[] = "MsgSubjectCheck_Checked";
inline constexpr char EmailFromEdit_Text[] = "EmailFromEdit_Text";
inline constexpr char EmailToEdit_Text[] = "EmailToEdit_Text";
inline constexpr char Check_RunMinimized_Checked[] = "Check_RunMinimized_Checked";
inline constexpr char MsgNotDetectSampleCheck_Checked[] = "MsgNotDetectSampleCheck_Checked";
inline constexpr char Check_EMail_UseSSL_Checked[] = "Check_EMail_UseSSL_Checked";
inline constexpr char Edit_Email_Subject_Text[] = "Edit_Email_Subject_Text";
inline constexpr char Check_AutoUpdates_Checked[] = "Check_AutoUpdates_Checked";
inline constexpr char Check_Config_Backup_Auto_Checked[] = "Check_Config_Backup_Auto_Checked";
inline constexpr char Check_Config_Backup_OnExit_Checked[] = "Check_Config_Backup_OnExit_Checked";
inline constexpr char Check_Config_Data_Log_Checked[] = "Check_Config_Data_Log_Checked";
inline constexpr char Check_Config_Data_Settings_Checked[] = "Check_Config_Data_Settings_Checked";
inline constexpr char Check_Config_DeleteOld_Checked[] = "Check_Config_DeleteOld_Checked";
inline constexpr char Edit_Config_Backup_Interval_Value[] = "Edit_Config_Backup_Interval_Value";
inline constexpr char Edit_Config_Backup_Time_Time[] = "Edit_Config_Backup_Time_Time";
inline constexpr char Edit_Config_BackupFolder_Text[] = "Edit_Config_BackupFolder_Text";
inline constexpr char Edit_Config_DeleteOld_Count_Value[] = "Edit_Config_DeleteOld_Count_Value";
inline constexpr char PageControl_Email_ActivePage[] = "PageControl_Email_ActivePage";
// Stored values, after the stored properties.
inline constexpr char Device[] = "Device";
inline constexpr char DeviceName[] = "DeviceName";
inline constexpr char Config_Last_Backup_Time[] = "Config_Last_Backup_Time";
inline constexpr char WebUpdate_LastCheckTime[] = "WebUpdate_LastCheckTime";
inline constexpr char WebUpdate_LastVersion[] = "WebUpdate_LastVersion";
}  // namespace SettingKey

// How a value is held, read and written.
enum class TSettingType {
    Integer,   // whole number; a stored text that does not parse reads as 0
    Boolean,   // "True"/"False", read without regard to case; anything else keeps the value
    Fraction,  // double with "." whatever the locale; a text that does not parse keeps the value
    Text,      // as it is
    Page,      // the name of a page component; "(null)" or empty: no page selected
    DateTime,  // day-based TDateTime (0 = never), stored as "dd.mm.yyyy hh:nn:ss"
    Rect,      // window rectangle: left, top, right, bottom as "%d,%d,%d,%d" (QRect coordinates)
};

struct TSettingDef {
    const char* Key;
    TSettingType Type;
    QVariant Default;
};

// One column of a list view's stored layout; a value the file did not hold is empty.
struct TColumnSetting {
    std::optional<int> Id;     // the column's tag
    std::optional<int> Width;  // pixels
    friend bool operator==(const TColumnSetting&, const TColumnSetting&) = default;
};

// The stored layout of one list view. Present is false when the file held none (or, for the
// sample and message views, a "Count" that is missing or not positive): the view then keeps its
// own columns, and saving leaves the file's section as it was.
struct TColumnLayout {
    bool Present = false;
    QList<TColumnSetting> Columns;  // "Count" entries
    friend bool operator==(const TColumnLayout&, const TColumnLayout&) = default;
};

// Sections of the column-layout file, one per list view.
namespace ColumnView {
inline constexpr char SampleView[] = "Main.SampleView";
inline constexpr char MessageView[] = "Main.MessageView";
inline constexpr char FrequencyView[] = "Main.FrequencyView";
}  // namespace ColumnView

class TSettingsModel : public QObject {
    Q_OBJECT

public:
    // Section of the main settings file that holds the model's entries.
    static inline const QString Section = QStringLiteral("Ondrix");

    explicit TSettingsModel(QObject* Parent = nullptr);

    // Every stored entry in the order it is first written: placement, stored properties,
    // stored values.
    static const QList<TSettingDef>& Definitions();
    // The definition of Key, or nullptr for a key the model does not hold.
    static const TSettingDef* Find(const QString& Key);

    // The value of Key in its type's QVariant (int, bool, double, QString, QRect); an invalid
    // QVariant for an unknown key.
    QVariant Value(const QString& Key) const;
    // Converts Value to the key's type and stores it; emits Changed when it differs. False for
    // an unknown key or a value that does not convert (nothing changes then).
    bool SetValue(const QString& Key, const QVariant& Value);

    // Typed access. A getter of an unknown key or of another type gives the type's zero.
    int Int(const QString& Key) const;
    bool Bool(const QString& Key) const;
    double Float(const QString& Key) const;  // Fraction and DateTime
    QString Text(const QString& Key) const;  // Text and Page
    QRect Rect(const QString& Key) const;
    void SetInt(const QString& Key, int Value) { SetValue(Key, Value); }
    void SetBool(const QString& Key, bool Value) { SetValue(Key, Value); }
    void SetFloat(const QString& Key, double Value) { SetValue(Key, Value); }
    void SetText(const QString& Key, const QString& Value) { SetValue(Key, Value); }
    void SetRect(const QString& Key, const QRect& Value) { SetValue(Key, Value); }

    // Every value back to its default (emits Changed for each value that differs).
    void ResetToDefaults();

    // The capture device: "Device" is the index of the device selector (0 = the default
    // device, k = the engine's device k - 1, -1 = nothing selected) and "DeviceName" the
    // selected device's name (empty for the default device). Sets both.
    void SelectDevice(int Index, const QStringList& DeviceNames);
    // After loading, with the engine's current device list: a stored name that is still listed
    // wins over the stored index (the audio server's source indexes change between boots). A
    // stored name that is not listed (the device is unplugged, or the server is not running
    // yet) leaves nothing selected (-1) and is kept: monitoring waits for that device, never
    // records whatever another device now has its number. Without a name, an index beyond
    // the list leaves nothing selected.
    void ResolveDevice(const QStringList& DeviceNames);

    // Reads the placement, the stored properties and the stored values from IniFile's section
    // "Ondrix". A missing key keeps its value. A "Device" that is not a whole number keeps the
    // current device and the later values are still read.
    void ReadFrom(const TIniFile& IniFile);
    // Writes every entry to section "Ondrix": existing entries in place, new ones in the order
    // of Definitions().
    void WriteTo(TIniFile& IniFile) const;

    // The stored column layout of a view (ColumnView::...).
    TColumnLayout ColumnLayout(const QString& View) const { return FLayouts.value(View); }
    void SetColumnLayout(const QString& View, const TColumnLayout& Layout);
    // Reads the three views' layouts from the column-layout file (missing views: not present).
    void ReadColumnLayouts(const TIniFile& IniFile);
    // Erases and rewrites the section of every present layout.
    void WriteColumnLayouts(TIniFile& IniFile) const;

signals:
    // A value has changed (by a setter or by reading a file).
    void Changed(const QString& Key);
    // A settings file has been read (after the Changed of each value it changed): every value
    // stands as loaded, so a consumer that waits for edits to settle takes them now.
    void Read();
    // A view's stored layout has changed.
    void ColumnLayoutChanged(const QString& View);

private:
    QMap<QString, QVariant> FValues;
    QMap<QString, TColumnLayout> FLayouts;
};
