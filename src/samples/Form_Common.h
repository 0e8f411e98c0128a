#pragma once
// Placement and keys shared by the dialogs of this folder.

#include <QPoint>
#include <QSize>

class QAbstractButton;
class QKeyEvent;
class QScreen;
class QWidget;

// Top-left corner for a window of Size centred over Owner (over the screen when there is no
// owner), then moved so that it lies at least 10 pixels inside the work area of the monitor
// Owner is on (Fallback's when there is no owner).
QPoint PlaceOverWindow(const QWidget* Owner, QSize Size, const QScreen* Fallback);

// The dialogs' keys: Escape clicks Cancel, Return and Enter click OK wherever the focus is.
// True when Event was one of them; the dialog passes any other key on to its base class.
bool ClickForDialogKey(const QKeyEvent* Event, QAbstractButton* Ok, QAbstractButton* Cancel);
