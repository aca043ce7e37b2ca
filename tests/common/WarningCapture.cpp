#include "WarningCapture.h"

#include <QString>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace testsupport {
namespace {

std::mutex warningMutex;
std::condition_variable warningAdded;
std::vector<std::string> warnings;
QtMessageHandler previousHandler = nullptr;

void captureWarning(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    std::lock_guard<std::mutex> lock(warningMutex);
    if (type == QtWarningMsg)
        warnings.push_back(text.toStdString());
    warningAdded.notify_all();
}

} // namespace

WarningCapture::WarningCapture()
{
    {
        std::lock_guard<std::mutex> lock(warningMutex);
        warnings.clear();
    }
    previousHandler = qInstallMessageHandler(captureWarning);
}

WarningCapture::~WarningCapture()
{
    qInstallMessageHandler(previousHandler);
}

std::vector<std::string> WarningCapture::texts()
{
    std::lock_guard<std::mutex> lock(warningMutex);
    return warnings;
}

bool WarningCapture::waitFor(const std::string& text, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(warningMutex);
    return warningAdded.wait_for(lock, timeout, [&] {
        return std::find(warnings.begin(), warnings.end(), text) != warnings.end();
    });
}

} // namespace testsupport
