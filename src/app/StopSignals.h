#pragma once

#include <QObject>

class QSocketNotifier;

namespace roamnode {

// Turns SIGINT and SIGTERM into a quit of the Qt event loop, so that the normal stop runs
// (scenario and heartbeat stopped, log written, threads joined). A second signal during that stop
// ends the process at once with the signal's default action.
//
// Main thread: construct after the Qt application exists. The signal handler only writes one byte
// into a socket pair; the notifier reads it in the event loop.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested(int signalNumber);

private slots:
    void onSignalByte();

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace roamnode
