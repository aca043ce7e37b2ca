#pragma once

#include "AppState.h"

#include <memory>
#include <string>

class PXEventBus;
class PXMobileManager;
struct PXPolicy;
namespace roamnode {
class TlsClientContext;
}

// The process-wide application object: owns the event bus and the managers, holds the
// application state and answers the version and capabilities requests.
//
// Main thread only, except instance(), which may be called from any thread.
class Roamnode
{
public:
    static Roamnode& instance();

    // Tests build their own; the program uses instance().
    Roamnode();
    ~Roamnode();
    Roamnode(const Roamnode&) = delete;
    Roamnode& operator=(const Roamnode&) = delete;

    std::shared_ptr<PXEventBus> getEventBus() const;

    // Before start(): descriptions that break the policy are refused. Without it, none is.
    void setPolicy(std::shared_ptr<const PXPolicy> policy);

    // For a "tls://" hub address: the certificates the heartbeat uses, or why there are none.
    void setTls(std::shared_ptr<roamnode::TlsClientContext> context, const std::string& whyNot);

    void start();
    void stop();
    void connectToRvp(const std::string& address);
    void reconnect();
    void disconnect();
    void stopScenario();

    int getAppState() const;
    std::string getVersion() const;
    std::string getRvpAddress() const;
    PXMobileManager* getMobileManager() const;

    static const char* version();
    static std::string capabilities();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
