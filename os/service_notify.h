// Tells systemd how the service is doing (sd_notify), when Tallowin was
// built with libsystemd and runs under a unit of Type=notify; otherwise
// does nothing.
#pragma once

namespace tallowin {

// state: "READY=1", "RELOADING=1", "STOPPING=1", "STATUS=...", several
// separated by newlines.
void NotifyServiceManager(const char* state);

}  // namespace tallowin
