#pragma once

#include "bus/AppState.h"
#include "ui/EndpointControl.h"

#include <memory>
#include <string>

class PXEventBus;
struct PXPolicy;
namespace roamnode {
class TlsClientContext;
}

// The application object: owns the event bus and the managers, holds the application state and
// answers the version and capabilities requests. The start routine creates it after the Qt
// application and destroys it before; the front end acts on it as an EndpointControl.
//
// Main thread only.
class Roamnode : public EndpointControl
{
public:
    Roamnode();
    ~Roamnode() override;
    Roamnode(const Roamnode&) = delete;
    Roamnode& operator=(const Roamnode&) = delete;

    std::shared_ptr<PXEventBus> getEventBus() const;

    // Before start(): descriptions that break the policy are refused. Without it, none is.
    void setPolicy(std::shared_ptr<const PXPolicy> policy);

    // For a "tls://" hub address: the certificates the heartbeat uses, or why there are none.
    void setTls(std::shared_ptr<roamnode::TlsClientContext> context, const std::string& whyNot);

    void start();
    void stop();
    void connectToRvp(const std::string& address) override;
    void reconnect() override;
    void disconnect() override;
    void stopScenario() override;

    int getAppState() const override;
    std::string getRvpAddress() const override;
    std::string getVersion() const override;

    static std::string capabilities();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
