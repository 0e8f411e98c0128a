#pragma once
// Placement shared by the dialogs of this folder.

#include <QPoint>
#include <QSize>

class QScreen;
class QWidget;

// Top-left corner for a window of Size centred over Owner (over the screen when there is no
// owner), then moved so that it lies at least 10 pixels inside the work area of the monitor
// Owner is on (Fallback's when there is no owner).
QPoint PlaceOverWindow(const QWidget* Owner, QSize Size, const QScreen* Fallback);
