#pragma once

#include <memory>
#include <string>

class PXEventBus;

// Keeps the endpoint's event log: selected bus events become entries at or above the threshold
// (initially "warning"), persisted in "pxlog.txt" in the working directory and readable by the hub
// ("logfile", "debuglevel").
//
// Main thread only.
class PXLogManager
{
public:
    // The log keeps the newest entries only, within both bounds, so an endpoint left at "debug"
    // for a week does not grow without bound, in memory, in its file or in a "logfile" answer.
    // Each message is also cut to a few KiB (LogMessage.h).
    static constexpr std::size_t kMaxEntries = 10000;
    static constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;
    // The file is rewritten after every this many recorded or loaded entries.
    static constexpr std::size_t kRewriteEvery = 25;

    explicit PXLogManager(std::shared_ptr<PXEventBus> bus, std::string filePath = "pxlog.txt");
    ~PXLogManager();
    PXLogManager(const PXLogManager&) = delete;
    PXLogManager& operator=(const PXLogManager&) = delete;

    void start(); // loads the file
    void stop();  // writes the file

    std::size_t entryCount() const;
    int threshold() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
