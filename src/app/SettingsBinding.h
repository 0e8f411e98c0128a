#pragma once
// Binds the main window's controls to the settings model both ways: each stored key names a
// control (its objectName) and one of its properties ("LogCount_Value" is the Value of the
// control LogCount). A value loaded into the model shows in its control at once, and an edit in
// a control reaches the model at once, so saving writes what the operator sees.

#include <QList>
#include <QObject>
#include <QStringList>

#include "core/SettingsModel.h"

class QWidget;
class TKvListView;

// One binding of a stored key to a control property.
struct TSettingBinding {
    QString Key;
    QString Component;
    QString Property;
};

// The component and property named by a stored key (split at its last "_"); empty for keys
// that name no control ("NormPos", "Device", ...).
TSettingBinding SplitSettingKey(const QString& Key);

class TSettingsBinding : public QObject {
    Q_OBJECT

public:
    // Binds every stored property of Model to the child of Window whose objectName is its
    // component; shows the model's current values in the controls.
    TSettingsBinding(TSettingsModel* Model, QWidget* Window);

    // Keys bound to a control (those of the model's stored properties whose control exists).
    const QStringList& BoundKeys() const { return FBound; }
    // Stored properties without a control in the window (should be none).
    const QStringList& UnboundKeys() const { return FUnbound; }

    // Shows the model's value of Key in its control.
    void ShowValue(const QString& Key);

private:
    void Bind(const TSettingBinding& Binding, QWidget* Control);

    TSettingsModel* FModel;
    QWidget* FWindow;
    QStringList FBound;
    QStringList FUnbound;
    bool FShowing = false;
};

// The stored layout of a list view's columns and back (the sample and message views, and the
// frequency view, which takes the stored count and tags too).
TColumnLayout ViewColumnLayout(const TKvListView& View);
void ApplyColumnLayout(const TColumnLayout& Layout, TKvListView& View, bool ExactCount);
