// Opening a file or a folder with the desktop's default program (xdg-open under X11).
#pragma once

#include <QString>

namespace pixmoor {

// Hands the absolute form of path to the desktop; the answer is not examined.
void openWithDesktop(const QString& path);

} // namespace pixmoor
