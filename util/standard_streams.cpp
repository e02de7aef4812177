// SPDX-License-Identifier: GPL-2.0-or-later
#include "util/standard_streams.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace orbvex {

void OpenClosedStandardStreams() {
#if !defined(_WIN32)
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        // The lowest free descriptor is the closed one: the lower ones are open by now.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened > 2) ::close(opened);  // none to fill: nothing to do but keep going
    }
#endif
}

}  // namespace orbvex
