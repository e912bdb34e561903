#include "app/service_log.h"

#include <unistd.h>

#include <cerrno>

namespace tallowin {

ServiceLog::ServiceLog(int fd) : fd_(fd) {}

void ServiceLog::Write(int priority, const std::string& message) {
    std::string line = "<";
    line += std::to_string(priority);
    line += '>';
    line += message;
    line += '\n';
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        if (line[i] == '\n' || line[i] == '\r') line[i] = ' ';
    }
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere left to tell
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace tallowin
