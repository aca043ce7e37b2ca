#include "scenario/PXScenarioWorker.h"

#include "bus/MetaTypes.h"
#include "device/InterfaceSource.h"
#include "device/PXMonitor.h"
#include "scenario/PXScenarioResult.h"
#include "scenario/ScenarioPlan.h"
#include "scenario/flows/PXFlow.h"

#include <QTimer>

#include <algorithm>

PXScenarioWorker::PXScenarioWorker() : PXScenarioWorker(Timing{}) {}

PXScenarioWorker::PXScenarioWorker(const Timing& timing, InterfaceSource* interfaces)
    : m_timing(timing), m_interfaces(interfaces ? interfaces : &hostInterfaceSource()),
      m_gaugeThread(std::make_shared<QThread>()),
      m_gauge(std::make_shared<PXScenarioGaugeWorker>(timing.gaugeInterval))
{
    // The flows' speed signals cross threads with these argument types.
    roamnode::registerMetaTypes();

    connect(m_gaugeThread.get(), &QThread::started, m_gauge.get(), &PXScenarioGaugeWorker::run);
    connect(m_gauge.get(), &PXScenarioGaugeWorker::gaugeRxSpeed, this,
            &PXScenarioWorker::onGaugeRxSpeed, Qt::DirectConnection);
    connect(m_gauge.get(), &PXScenarioGaugeWorker::gaugeTxSpeed, this,
            &PXScenarioWorker::onGaugeTxSpeed, Qt::DirectConnection);
    m_gauge->moveToThread(m_gaugeThread.get());
    m_gaugeThread->start(QThread::InheritPriority);
}

PXScenarioWorker::~PXScenarioWorker()
{
    stop();
    // The run thread calls back into this object; it must be done before the members go.
    if (m_executor)
        m_executor->join();
    m_executor.reset();
}

void PXScenarioWorker::setScenario(const std::shared_ptr<const PXScenarioPlan>& scenario)
{
    m_scenario = scenario;
    m_scheduled = false;
}

void PXScenarioWorker::setStartTime(std::int64_t startTime)
{
    m_startTime = startTime;
    m_scheduled = true;
    armStartTimer(startTime);
}

void PXScenarioWorker::armStartTimer(std::int64_t target)
{
    // A Qt timer takes a 32-bit count of milliseconds; a start time further ahead is reached
    // in steps, each checking again how far away it is, so the run never starts early.
    std::int64_t delay = roamnode::nanosecondsToMilliseconds(target - roamnode::nowNanoseconds());
    if (delay < 1)
        delay = 0;
    delay = std::min<std::int64_t>(delay, m_timing.maxTimerStep.count());
    QTimer::singleShot(static_cast<int>(delay), Qt::PreciseTimer, this,
                       [this, target] { onStartTimer(target); });
}

void PXScenarioWorker::onStartTimer(std::int64_t target)
{
    if (!m_scheduled)
        return;
    if (roamnode::nanosecondsToMilliseconds(target - roamnode::nowNanoseconds()) >= 1) {
        armStartTimer(target);
        return;
    }
    startScenario();
}

void PXScenarioWorker::startScenario()
{
    if (!m_scenario || !m_scheduled)
        return;
    m_scheduled = false;

    // Two runs of the same flows at once would fight over their engines: a run still going
    // is ended first.
    if (m_executor && !m_executor->finished())
        m_executor->join();

    // Every run gets its own record and its own flows and monitors, so records already in the
    // result list never change. One sample budget per run, shared by all its monitors, so the
    // run's result stays bounded however many monitors the description has.
    auto result = std::make_shared<PXScenarioResult>(m_scenario->id);
    result->setTimestamp(m_startTime);
    const auto budget = std::make_shared<MonitorSampleBudget>(m_timing.monitorSampleLimit);
    auto run = buildScenarioRun(*m_scenario, result, *m_interfaces, budget);
    for (const auto& flow : run->flows) {
        connect(flow.get(), &PXFlow::flowRxSpeed, this, &PXScenarioWorker::onFlowRxSpeed,
                Qt::QueuedConnection);
        connect(flow.get(), &PXFlow::flowTxSpeed, this, &PXScenarioWorker::onFlowTxSpeed,
                Qt::QueuedConnection);
    }
    {
        std::lock_guard<std::mutex> guard(m_runLock);
        m_run = run;
    }

    m_gauge->clearSamples();
    m_gauge->setActive(true);
    m_executor = std::make_shared<PXScenarioExecutor>(this, run, m_timing.endGrace);
    emit scenarioWillStart();
    m_executor->start();
}

void PXScenarioWorker::onScenarioFinished()
{
    m_gauge->setActive(false);
    m_gauge->clearSamples();
    {
        std::lock_guard<std::mutex> guard(m_runLock);
        if (m_run) {
            for (const auto& monitor : m_run->monitors)
                m_run->result->addMonitorResult(monitor->takeResult());
            m_finishedResults.push_back(m_run->result);
        }
    }
    emit scenarioEnded();
}

std::vector<std::shared_ptr<PXScenarioResult>> PXScenarioWorker::takeFinishedResults()
{
    std::lock_guard<std::mutex> guard(m_runLock);
    std::vector<std::shared_ptr<PXScenarioResult>> results;
    results.swap(m_finishedResults);
    return results;
}

void PXScenarioWorker::clearPendingResults()
{
    std::lock_guard<std::mutex> guard(m_runLock);
    if (m_run)
        m_run->result->clear();
    for (const auto& result : m_finishedResults)
        result->clear();
}

void PXScenarioWorker::releaseRun()
{
    // A run or schedule that began after the run being released keeps what it needs.
    if (m_executor && m_executor->finished()) {
        m_executor.reset();
        // The run's flows are Qt objects made on this thread: they go here too.
        std::lock_guard<std::mutex> guard(m_runLock);
        m_run.reset();
    }
    if (!m_scheduled && !m_executor)
        m_scenario.reset();
}

void PXScenarioWorker::stop()
{
    m_scheduled = false;
    // A run still going ends here, and its thread is joined, while the process is whole: its
    // engines release sockets and contexts that static destruction would otherwise pull away.
    if (m_executor)
        m_executor->join();
    if (!m_gaugeThread->isRunning())
        return;
    m_gauge->requestStop();
    m_gaugeThread->quit();
    m_gaugeThread->wait();
}

void PXScenarioWorker::abortScenario()
{
    m_scheduled = false;
    if (m_executor)
        m_executor->stop();
}

void PXScenarioWorker::onFlowRxSpeed(roamnode::time_point time, float bps,
                                     std::chrono::milliseconds diffTime)
{
    m_gauge->addRxSample({roamnode::toNanoseconds(time), diffTime.count(), bps});
}

void PXScenarioWorker::onFlowTxSpeed(roamnode::time_point time, float bps,
                                     std::chrono::milliseconds diffTime)
{
    m_gauge->addTxSample({roamnode::toNanoseconds(time), diffTime.count(), bps});
}

void PXScenarioWorker::onGaugeRxSpeed(float speed)
{
    emit scenarioRxSpeed(speed);
}

void PXScenarioWorker::onGaugeTxSpeed(float speed)
{
    emit scenarioTxSpeed(speed);
}
