// Where top-level windows go on the desktop: sized and placed so that the whole frame (title bar,
// menus and borders) lies in the available area of the screen (without panels and docks), in the
// logical pixels Qt works in, whatever the screen's size and scale factor.
#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

namespace pixmoor {

// The client rectangle nearest to `client` whose frame (`frame` around it) lies inside `area`:
// shrunk where it is too large, then moved in as little as needed.
QRect fitClientRect(const QRect& client, const QMargins& frame, const QRect& area);

// The margins the window manager puts around the window: the real ones once it is framed, else
// an estimate from the style (a title bar and borders), as the frame is unknown before mapping.
QMargins frameMargins(const QWidget* window);

// The available area of the screen the window is on (the primary screen before it is shown).
QRect availableArea(const QWidget* window);

// Gives a window its client size, fitted to its screen, centred in the available area.
void placeCentred(QWidget* window, const QSize& size);

// Gives a window its client size, fitted, beside `anchor` (to its right, else to its left, else
// over it), on the screen the anchor is on.
void placeBeside(QWidget* window, const QSize& size, const QWidget* anchor);

// Once the window manager has framed the window (its real frame is known only then), moves and
// shrinks it as little as needed for the frame to lie in the available area. Once per call.
void keepOnScreenWhenFramed(QWidget* window);

} // namespace pixmoor
