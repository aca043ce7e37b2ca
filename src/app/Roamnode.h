#pragma once

#include "AppState.h"
#include "EndpointControl.h"

#include <memory>
#include <string>

class PXEventBus;

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
