// Thread priority on Linux: setpriority on the thread's own id.
#include "platform/thread_priority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pixmoor {

bool lowerCurrentThreadPriority() {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) return false;
    return ::setpriority(PRIO_PROCESS, tid, std::min(19, current + kBackgroundNice)) == 0;
}

} // namespace pixmoor
