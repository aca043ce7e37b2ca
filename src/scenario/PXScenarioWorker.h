#pragma once

#include "bus/TimePoint.h"
#include "device/MonitorSampleBudget.h"
#include "scenario/PXScenarioExecutor.h"
#include "scenario/PXScenarioGaugeWorker.h"

#include <QObject>
#include <QThread>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class InterfaceSource;
class PXScenarioResult;
struct PXScenarioPlan;

// Holds the scenario to run and its start time, starts the run when the time comes, relays the
// flows' speed reports to the gauge and tells the manager when a run has ended.
//
// Threads: lives on the main thread; its operations and slots run there, except
// onScenarioFinished (run thread) and onGaugeRxSpeed/onGaugeTxSpeed (gauge thread, connected
// directly), which only emit signals and touch m_finishedLock-guarded data and the gauge's own
// locked state.
class PXScenarioWorker : public QObject, public PXScenarioExecutor::Listener
{
    Q_OBJECT

public:
    struct Timing
    {
        std::chrono::milliseconds gaugeInterval{1000};
        std::chrono::nanoseconds endGrace = PXScenarioExecutor::defaultEndGrace;
        // The longest single wait of the start timer; later start times are reached in steps.
        // At most what a 32-bit millisecond count holds.
        std::chrono::milliseconds maxTimerStep{24 * 60 * 60 * 1000};
        // The samples all monitors of one run may take together.
        std::size_t monitorSampleLimit = MonitorSampleBudget::kDefaultLimit;
    };

    // The monitors of a run sample `interfaces` (the host's own when none is given), which must
    // outlive every run.
    PXScenarioWorker();
    explicit PXScenarioWorker(const Timing& timing, InterfaceSource* interfaces = nullptr);
    ~PXScenarioWorker() override;

    void setInterfaceSource(InterfaceSource& interfaces) { m_interfaces = &interfaces; }
    void setScenario(const std::shared_ptr<const PXScenarioPlan>& scenario);
    void setStartTime(std::int64_t startTime);
    std::int64_t startTime() const { return m_startTime; }
    bool scheduled() const { return m_scheduled; }
    void releaseRun();
    // Cancels the schedule, ends a run still going and waits for its thread, then stops the gauge.
    void stop();
    void abortScenario();

    // The records of the runs that ended since the last call, oldest first (main thread).
    std::vector<std::shared_ptr<PXScenarioResult>> takeFinishedResults();
    // Empties the record of the last run (still going or not released yet) and those not taken
    // yet: the hub has reset its result list (main thread).
    void clearPendingResults();

    std::shared_ptr<PXScenarioExecutor> executor() const { return m_executor; }
    PXScenarioGaugeWorker* gauge() const { return m_gauge.get(); }

    void onScenarioFinished() override;

signals:
    void scenarioWillStart();
    void scenarioEnded();
    void scenarioRxSpeed(float speed);
    void scenarioTxSpeed(float speed);

public slots:
    void startScenario();
    void onFlowRxSpeed(roamnode::time_point time, float bps, std::chrono::milliseconds diffTime);
    void onFlowTxSpeed(roamnode::time_point time, float bps, std::chrono::milliseconds diffTime);
    void onGaugeRxSpeed(float speed);
    void onGaugeTxSpeed(float speed);

private:
    void armStartTimer(std::int64_t target);
    void onStartTimer(std::int64_t target);

    const Timing m_timing;
    bool m_scheduled = false;
    InterfaceSource* m_interfaces;
    std::shared_ptr<const PXScenarioPlan> m_scenario;
    std::int64_t m_startTime = 0;
    std::shared_ptr<QThread> m_gaugeThread;
    std::shared_ptr<PXScenarioGaugeWorker> m_gauge;
    std::shared_ptr<PXScenarioExecutor> m_executor;

    // The last run's flows, monitors and record, kept from its start until it is released, so
    // the run thread can hand its record over and the flows are destroyed on this thread.
    std::mutex m_runLock;
    std::shared_ptr<PXScenarioRun> m_run;
    std::vector<std::shared_ptr<PXScenarioResult>> m_finishedResults;
};
