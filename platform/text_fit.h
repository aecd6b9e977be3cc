// Forms laid out at fixed pixel positions (the .ui layouts) against the desktop's fonts: a label
// or button whose caption needs more room than its designed size grows, the controls after it on
// its row move along, and the frames around them and the window grow with them. Where every
// caption fits, each control keeps its designed place and size.
#pragma once

#include <QSize>
#include <QString>

class QWidget;

namespace pixmoor {

// Fits the children of container now, and again whenever a caption, the font or the style
// changes (and when it is shown). Plain frames and group boxes among the children that have no
// layout of their own are fitted the same way, inside out. A window grows to hold its children;
// a fixed-size one keeps a fixed, larger size. The sizes of the first call are the design.
void fitTextToFont(QWidget* container);

// The caption a widget shows, without mnemonic marks ("&OK" is "OK"); empty for widgets without
// one (edits, icon-only tool buttons, pictures, word-wrapped or rich-text labels).
QString captionOf(const QWidget* widget);

// The room the style leaves for a widget's caption when the widget has the given size: the
// contents of a label, a push button's contents, the text beside a check box's indicator, a tool
// button inside its frame.
QSize captionRoom(const QWidget* widget, QSize size);

} // namespace pixmoor
