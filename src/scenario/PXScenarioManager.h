#pragma once

#include "bus/PXEventHandler.h"
#include "scenario/PXScenarioWorker.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class PXEventBus;
struct PXPolicy;
struct PXScenarioPlan;
class InterfaceSource;
class PXScenarioResult;

// The event handler that owns the scenario side of the endpoint: the current scenario (from the
// description variable), its schedule (through the worker), the abort detection interval and
// the list of finished results; it turns the worker's signals into bus events.
//
// Threads: main thread only. The worker's signals from the gauge and run threads reach the
// slots queued, so no member needs a lock.
class PXScenarioManager : public QObject, public PXEventHandler
{
    Q_OBJECT

public:
    explicit PXScenarioManager(std::shared_ptr<PXEventBus> bus,
                               const PXScenarioWorker::Timing& timing = PXScenarioWorker::Timing{});
    ~PXScenarioManager() override;

    void start();
    void stop();

    // Descriptions that break `policy` are refused from now on; `hubAddresses` tells the
    // numeric addresses of the hub, which streams and HTTP flows may always reach. Without a
    // policy every description the parser accepts is taken.
    void setPolicy(std::shared_ptr<const PXPolicy> policy,
                   std::function<std::vector<std::string>()> hubAddresses);

    using PXEventHandler::handleEvent;
    void handleEvent(int eventId, PXEmptyEventContents) override;
    void handleEvent(int eventId, std::string value) override;

    PXScenarioWorker& worker() const { return *m_worker; }
    std::shared_ptr<const PXScenarioPlan> currentScenario() const { return m_scenario; }
    // The runs' monitors sample this source from now on; it must outlive every run.
    void setInterfaceSource(InterfaceSource& interfaces)
    {
        m_worker->setInterfaceSource(interfaces);
    }
    const std::vector<std::shared_ptr<PXScenarioResult>>& resultList() const { return m_results; }

public slots:
    void onScenarioWillStart();
    void onScenarioEnded();
    void onScenarioRxSpeed(float speed);
    void onScenarioTxSpeed(float speed);

private:
    void setDescription(const std::string& text);
    void setStartTime(const std::string& text);
    void setAbortDetectionInterval(const std::string& text);
    void resetResultList();

    std::shared_ptr<PXEventBus> m_bus;
    std::shared_ptr<PXScenarioWorker> m_worker;
    std::shared_ptr<const PXScenarioPlan> m_scenario;
    // Stored for the hub to read back; a new description starts again from 0.
    std::uint64_t m_abortDetectionInterval = 0;
    std::vector<std::shared_ptr<PXScenarioResult>> m_results;
    bool m_started = false;
    std::shared_ptr<const PXPolicy> m_policy;
    std::function<std::vector<std::string>()> m_hubAddresses;
};
