// SIGTERM, SIGINT and SIGHUP turned into a Qt signal on the main thread
// (the handler only writes a byte to a pipe, which is safe in a signal
// handler), so that a logout, `kill` or Ctrl+C ends the application the way
// its Exit button does. While the object lives, those signals no longer end
// the process by themselves; afterwards their default action is restored.
// One object at a time; main thread only.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace tallowin {

class TerminationSignals : public QObject {
    Q_OBJECT
  public:
    TerminationSignals();
    ~TerminationSignals() override;

  signals:
    void Received(int signalNumber);

  private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tallowin
