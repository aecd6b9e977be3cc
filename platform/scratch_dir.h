// The private scratch directory ("Windows directory") that holds the program's fixed scratch files.
#pragma once

#include <QString>

namespace pixmoor {

// $XDG_RUNTIME_DIR/pixmoor when that variable names an absolute directory, else "pixmoor" under
// the user's cache directory. Created with mode 0700 when missing; an existing one must be a real
// directory (not a symbolic link) owned by this user, and is narrowed to 0700. Throws
// std::runtime_error with a clear text when no such directory can be had.
QString scratchDirectory();

} // namespace pixmoor
