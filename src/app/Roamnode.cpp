#include "app/Roamnode.h"

#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "device/PXMobileManager.h"
#include "heartbeat/HeartbeatManager.h"
#include "log/PXLogManager.h"
#include "scenario/PXScenarioManager.h"

#include "bus/Version.h"

// Owns the bus and the managers. The members are declared in creation order, which is also the
// order in which the managers subscribe and so the order in which the bus delivers to them.
class Roamnode::Impl : public PXEventHandler
{
public:
    using PXEventHandler::handleEvent;

    Impl();
    ~Impl() override;

    void handleEvent(int eventId, PXEmptyEventContents) override;
    void handleEvent(int eventId, unsigned long value) override;

    void setState(AppState state);

    std::shared_ptr<PXEventBus> bus;
    // Managers, in creation order: heartbeat, scenario, log, device information.
    HeartbeatManager heartbeatManager;
    PXScenarioManager scenarioManager;
    PXLogManager logManager;
    PXMobileManager mobileManager;
    AppState state = BOOTING;
};

Roamnode::Impl::Impl()
    : bus(std::make_shared<PXEventBus>()), heartbeatManager(bus), scenarioManager(bus),
      logManager(bus), mobileManager(bus)
{
    // Monitors sample through the device-information manager from the scenario run threads.
    scenarioManager.setInterfaceSource(mobileManager);
    for (const int id : {GET_CAPABILITIES, GET_APP_VERSION, HEARTBEAT_FAILED, HEARTBEAT_CONNECTED,
                         SCENARIO_ENDED, SET_SCENARIO_START_TIME, SCENARIO_STARTING})
        bus->subscribe(id, this);
    // Only the managers see this one: the front end is created afterwards.
    setState(BOOTING);
}

Roamnode::Impl::~Impl()
{
    // A run still going samples the device-information manager, which goes first.
    scenarioManager.stop();
    bus->unsubscribe(this);
}

void Roamnode::Impl::setState(AppState newState)
{
    // Published even when unchanged: followers rely on every transition being announced.
    state = newState;
    bus->publish(APP_STATE_CHANGED, newState);
}

void Roamnode::Impl::handleEvent(int eventId, PXEmptyEventContents)
{
    switch (eventId) {
    case GET_APP_VERSION:
        bus->publish(APP_VERSION, std::string(roamnode::kVersion));
        break;
    case GET_CAPABILITIES:
        bus->publish(CAPABILITIES, Roamnode::capabilities());
        break;
    case HEARTBEAT_FAILED:
        setState(TRY_CONTACT_RVP);
        break;
    case HEARTBEAT_CONNECTED:
        setState(REGISTERED);
        break;
    case SCENARIO_STARTING:
        setState(RUNNING);
        break;
    case SCENARIO_ENDED:
        setState(REGISTERED);
        break;
    default:
        break;
    }
}

void Roamnode::Impl::handleEvent(int eventId, unsigned long)
{
    // The scenario manager republishes an accepted start time as a number; the text form from
    // the heartbeat parser is a request and changes nothing here.
    if (eventId == SET_SCENARIO_START_TIME)
        setState(ARMED);
}

Roamnode::Roamnode() : m_impl(std::make_unique<Impl>()) {}

Roamnode::~Roamnode() = default;

std::shared_ptr<PXEventBus> Roamnode::getEventBus() const
{
    return m_impl->bus;
}

void Roamnode::setPolicy(std::shared_ptr<const PXPolicy> policy)
{
    HeartbeatManager& heartbeat = m_impl->heartbeatManager;
    m_impl->scenarioManager.setPolicy(std::move(policy),
                                      [&heartbeat]() { return heartbeat.hubAddresses(); });
}

void Roamnode::setTls(std::shared_ptr<roamnode::TlsClientContext> context,
                      const std::string& whyNot)
{
    m_impl->heartbeatManager.setTls(std::move(context), whyNot);
}

void Roamnode::start()
{
    // Device information, log, heartbeat, scenario.
    m_impl->mobileManager.start();
    m_impl->logManager.start();
    m_impl->heartbeatManager.start();
    m_impl->scenarioManager.start();
    m_impl->setState(BOOTING_READY);
}

void Roamnode::stop()
{
    // Scenario, heartbeat, log, device information.
    m_impl->scenarioManager.stop();
    m_impl->heartbeatManager.stop();
    m_impl->logManager.stop();
    m_impl->mobileManager.stop();
}

void Roamnode::connectToRvp(const std::string& address)
{
    // Host and optional port ("host:port", "[v6]:port") go into the heartbeat's settings before
    // the state change starts the heartbeat.
    m_impl->heartbeatManager.setRvpAddress(address);
    m_impl->setState(TRY_CONTACT_RVP);
}

void Roamnode::reconnect()
{
    m_impl->setState(TRY_CONTACT_RVP);
}

void Roamnode::disconnect()
{
    m_impl->heartbeatManager.stop();
    m_impl->setState(BOOTING_READY);
}

void Roamnode::stopScenario()
{
    m_impl->scenarioManager.worker().abortScenario();
}

int Roamnode::getAppState() const
{
    return m_impl->state;
}

std::string Roamnode::getVersion() const
{
    return roamnode::kVersion;
}

std::string Roamnode::getRvpAddress() const
{
    return m_impl->heartbeatManager.rvpAddress();
}

std::string Roamnode::capabilities()
{
    std::string text = "{";
    text += "\"ipv4\": true, \"streamv4\": 1, \"triggerv4\": 1, \"tcpv4\": 1";
    text += ", \"ipv6\": true, \"streamv6\": 1, \"triggerv6\": 1, \"tcpv6\": 1";
    text += ", \"latency\": {\"stream\": true, \"trigger\": [\"average\"]}";
    text += ", \"tcprestart\": true";
    text += ", \"monitor\": {\"networkinfo\": true}";
    text += "}";
    return text;
}
