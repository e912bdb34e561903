// The service's log: one line per event on stderr, each with the syslog
// priority prefix that journald reads ("<6>" info, "<4>" warning, "<3>"
// error), so a systemd unit needs no logging library.
#pragma once

#include <string>

namespace tallowin {

class ServiceLog {
  public:
    // fd: where the lines go; stderr unless a test says otherwise. Not owned.
    explicit ServiceLog(int fd = 2);

    void Info(const std::string& message) { Write(6, message); }
    void Warning(const std::string& message) { Write(4, message); }
    void Error(const std::string& message) { Write(3, message); }

    // One whole line in one write, so lines of different threads or
    // processes never mix; line breaks inside message become spaces.
    void Write(int priority, const std::string& message);

  private:
    int fd_;
};

}  // namespace tallowin
