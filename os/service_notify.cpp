#include "os/service_notify.h"

#ifdef TALLOWIN_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace tallowin {

void NotifyServiceManager([[maybe_unused]] const char* state) {
#ifdef TALLOWIN_HAVE_SYSTEMD
    // Without $NOTIFY_SOCKET (not under systemd) this does nothing.
    sd_notify(0, state);
#endif
}

}  // namespace tallowin
