#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace testsupport {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    // Processing blocks until some event arrives; the ticking timer makes sure one does every
    // few ms.
    QTimer tick;
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() >= timeoutMs)
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void runEventsFor(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

} // namespace testsupport
