// Opening image files safely: only regular files are read, judged on the opened descriptor, so
// no name in a browsed folder (a link to a FIFO, a device, /dev/zero, /proc/kmsg) can block a
// reader or feed it endless bytes. Used by every reader of the codec library and by the Qt-side
// loaders.
#pragma once

#include <string>

namespace pixmoor::codec {

// Opens path read-only if it is a regular file (after following links) outside the kernel's
// pseudo file systems (procfs, sysfs, debugfs, tracefs and the like). The open is
// non-blocking, so a FIFO cannot stall it, and the type is checked with fstat on the descriptor
// itself, so a name swapped between a check and the open changes nothing. Returns the descriptor
// (close-on-exec, blocking again), or -1 with errno set (EINVAL for a file that is not
// regular or lives on a pseudo file system).
int openRegularFile(const std::string& path);

// Whether path names a regular file (after following links); never opens it.
bool isRegularFile(const std::string& path);

} // namespace pixmoor::codec
