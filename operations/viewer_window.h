// What the two viewer windows share: their frame and background, the status bar with its one
// panel, and how a hidden viewer comes up.
#pragma once

#include <QString>

class QLabel;
class QStatusBar;
class QVBoxLayout;
class QWidget;

namespace pixmoor {

// Names and captions a viewer window, gives it a system menu and a minimise button only (no
// maximise), a white background and Escape to hide it, and returns its vertical layout, without
// margins.
QVBoxLayout* setUpViewerWindow(QWidget* window, const QString& objectName, const QString& caption);

// Adds the status bar at the bottom of layout; its one panel (at least 50 wide) takes the whole
// bar so a long file name stays readable. Returns the panel.
QLabel* addViewerStatusBar(QWidget* window, QVBoxLayout* layout, QStatusBar*& bar);

// Centres a hidden window on the primary screen's available area.
void centreOnScreen(QWidget* window);

// Shows the window (restored when minimised), raises it and gives it the focus.
void bringToFront(QWidget* window);

} // namespace pixmoor
