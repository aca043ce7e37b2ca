#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace testsupport {

namespace {

// Blocks until some event arrives; the ticking timer makes sure one does every few ms.
void processSomeEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QTimer tick;
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() >= timeoutMs)
            return condition();
        processSomeEvents();
    }
    return true;
}

void runEventsFor(int milliseconds)
{
    QTimer tick;
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        processSomeEvents();
}

} // namespace testsupport
