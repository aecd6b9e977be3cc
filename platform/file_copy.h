// Copying and renaming files without ever leaving a partial file or replacing one by accident:
// the bytes go to a temporary file in the target's directory, which takes the target's name only
// when it is complete.
#pragma once

#include <QString>
#include <functional>

namespace pixmoor {

enum class Placement {
    NewOnly, // the copy takes the name only when no entry of that name exists then
    Replace, // the copy replaces whatever has the name (atomically)
};

struct CopyFileOptions {
    Placement placement = Placement::NewOnly;
    // Flush the copy and its directory entry to the disk before returning (before a move removes
    // the source, or when an existing file is replaced).
    bool durable = false;
    // Called between chunks of a large file, at most every few milliseconds of copying.
    std::function<void()> pulse;
    // An anonymous temporary file (O_TMPFILE) where the file system offers one: nothing is left
    // behind even when the process is killed. Off: a hidden named temporary file.
    bool anonymousTemporary = true;
};

// The answer of a copy or move whose target turned out to be the source itself: the same entry
// (its own folder reached through a link or a bind mount) or the same file under another name.
// Nothing was written or removed. (Not an errno value: those are positive.)
inline constexpr int kTargetIsSource = -1;

// Copies the bytes of the regular file source to target. Returns 0 on success, else the errno
// value of the step that failed or kTargetIsSource; then nothing of the copy remains and the
// target is as it was. The identity of source and target is checked on the opened source and
// the opened target directory, at the moment of writing, whatever the caller checked before.
int copyFileAtomically(const QString& source, const QString& target,
                       const CopyFileOptions& options = {});

// Copies as copyFileAtomically does (always durably), then removes the source's entry: only
// once the copy is in place and on the disk, only when that entry is still the file that was
// copied (or a link to it), and never when it is the copy itself. A source that cannot be
// removed stays; the answer is still 0, and sourceRemoved tells which happened.
int moveFileAtomically(const QString& source, const QString& target, bool& sourceRemoved,
                       CopyFileOptions options = {});

// Renames from to to, never replacing an existing entry, also when one appears at the last
// moment (renameat2 with RENAME_NOREPLACE, else link and unlink). 0 or the errno value.
int renameNoReplace(const QString& from, const QString& to);

// Whether an entry of that name exists (a dangling symbolic link counts).
bool entryExists(const QString& path);

// Whether both paths name the same directory (same device and inode: symbolic links, bind
// mounts and other spellings included). False when either cannot be reached.
bool sameDirectory(const QString& a, const QString& b);

} // namespace pixmoor
