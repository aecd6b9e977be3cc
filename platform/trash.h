// Deleting a file to the desktop's trash (the freedesktop.org trash layout, through GIO as the
// file managers do), so a mistaken delete can be undone from the file manager.
#pragma once

#include <QString>

namespace pixmoor {

enum class DeleteOutcome {
    Trashed,        // the file is in a trash can
    RemovedForGood, // no trash could take it: it was removed
    Failed,         // the file stays where it was
};

// Moves the file at path (a symbolic link itself, not its target) to the trash; where no trash
// can take it, removes it. A file that cannot be removed at all (read-only file system, a
// directory without write permission, an immutable file) stays and gives Failed.
DeleteOutcome deleteToTrash(const QString& path);

} // namespace pixmoor
