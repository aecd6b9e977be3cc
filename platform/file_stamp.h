// What tells one state of a file from another, from one stat: decoding ahead checks that a file
// read early is still the file when its turn comes, and the thumbnail cache keys its entries on it.
#pragma once

#include <QStringView>

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace pixmoor {

// A save replaces the inode, an edit in place changes the size or the times.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0;     // bytes
    std::int64_t modified = 0; // last modification, nanoseconds since the epoch
    std::int64_t changed = 0;  // last status change, nanoseconds since the epoch

    // The modification time in whole seconds, as the thumbnail cache records it.
    std::int64_t mtime() const;

    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at path (in the file system's bytes), following links; nullopt when it
// cannot be stat'ed.
std::optional<FileStamp> fileStamp(const std::string& path);
// The same for a path as the program holds it (see file_name.h).
std::optional<FileStamp> fileStamp(QStringView path);

} // namespace pixmoor
