#pragma once

#include <string>

// What a front end may ask of the endpoint beyond the bus: the window's buttons and address
// field act through it. The start routine hands the application object in through this
// interface, so the front ends depend on the bus and on nothing above them.
//
// Main thread only.
class EndpointControl
{
public:
    virtual ~EndpointControl() = default;

    virtual void connectToRvp(const std::string& address) = 0;
    virtual void reconnect() = 0;
    virtual void disconnect() = 0;
    virtual void stopScenario() = 0;

    virtual int getAppState() const = 0;
    virtual std::string getRvpAddress() const = 0;
    virtual std::string getVersion() const = 0;
};
