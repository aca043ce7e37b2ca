#include "scenario/PXScenarioManager.h"

#include "bus/HubInteger.h"
#include "bus/MetaTypes.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "bus/TimePoint.h"
#include "policy/PolicyCheck.h"
#include "scenario/PXScenarioResult.h"
#include "scenario/ScenarioDemandOf.h"
#include "scenario/ScenarioDescription.h"

#include <cstdlib>

using roamnode::hubInteger;

PXScenarioManager::PXScenarioManager(std::shared_ptr<PXEventBus> bus,
                                     const PXScenarioWorker::Timing& timing)
    : m_bus(std::move(bus)), m_worker(std::make_shared<PXScenarioWorker>(timing))
{
    roamnode::registerMetaTypes();

    m_bus->subscribe(GET_ABORT_DETECTION_INTERVAL, this);
    m_bus->subscribe(SET_ABORT_DETECTION_INTERVAL, this);
    m_bus->subscribe(SET_SCENARIO_DESCRIPTION, this);
    m_bus->subscribe(GET_RESULT_LIST, this);
    m_bus->subscribe(SET_RESULT_LIST, this);
    m_bus->subscribe(GET_SCENARIO_START_TIME, this);
    m_bus->subscribe(SET_SCENARIO_START_TIME, this);
    // A "get" of the description must be answered or the heartbeat reply is withheld.
    m_bus->subscribe(GET_SCENARIO_DESCRIPTION, this);
}

PXScenarioManager::~PXScenarioManager()
{
    m_bus->unsubscribe(this);
    m_worker->stop();
}

void PXScenarioManager::start()
{
    if (m_started)
        return;
    m_started = true;
    connect(m_worker.get(), &PXScenarioWorker::scenarioWillStart, this,
            &PXScenarioManager::onScenarioWillStart);
    connect(m_worker.get(), &PXScenarioWorker::scenarioEnded, this,
            &PXScenarioManager::onScenarioEnded);
    connect(m_worker.get(), &PXScenarioWorker::scenarioRxSpeed, this,
            &PXScenarioManager::onScenarioRxSpeed);
    connect(m_worker.get(), &PXScenarioWorker::scenarioTxSpeed, this,
            &PXScenarioManager::onScenarioTxSpeed);
}

void PXScenarioManager::stop()
{
    m_worker->stop();
}

void PXScenarioManager::setPolicy(std::shared_ptr<const PXPolicy> policy,
                                  std::function<std::vector<std::string>()> hubAddresses)
{
    m_policy = std::move(policy);
    m_hubAddresses = std::move(hubAddresses);
}

void PXScenarioManager::handleEvent(int eventId, PXEmptyEventContents)
{
    switch (eventId) {
    case GET_SCENARIO_START_TIME: {
        std::int64_t startTime = m_worker->startTime();
        if (startTime < roamnode::nowNanoseconds())
            startTime = 0;
        m_bus->publish(SCENARIO_START_TIME, static_cast<unsigned long>(startTime));
        break;
    }
    case GET_ABORT_DETECTION_INTERVAL:
        m_bus->publish(ABORT_DETECTION_INTERVAL,
                       static_cast<unsigned long>(m_scenario ? m_abortDetectionInterval : 0));
        break;
    case GET_RESULT_LIST:
        m_bus->publish(RESULT_LIST, resultListJson(m_results));
        break;
    case GET_SCENARIO_DESCRIPTION:
        m_bus->publish(SCENARIO_DESCRIPTION,
                       m_scenario ? m_scenario->description : std::string("\"\""));
        break;
    default:
        break;
    }
}

void PXScenarioManager::handleEvent(int eventId, std::string value)
{
    switch (eventId) {
    case SET_SCENARIO_DESCRIPTION:
        setDescription(value);
        break;
    case SET_SCENARIO_START_TIME:
        setStartTime(value);
        break;
    case SET_ABORT_DETECTION_INTERVAL:
        setAbortDetectionInterval(value);
        break;
    case SET_RESULT_LIST:
        resetResultList();
        break;
    default:
        break;
    }
}

void PXScenarioManager::setDescription(const std::string& text)
{
    auto parsed = std::make_shared<PXScenarioPlan>();
    int code = parseScenarioDescription(text, *parsed);
    if (code == SCENARIO_OK && m_policy) {
        const PolicyVerdict verdict =
            checkPolicy(*m_policy, scenarioDemandOf(*parsed),
                        m_hubAddresses ? m_hubAddresses() : std::vector<std::string>{});
        if (verdict.code != 0)
            m_bus->publish(SCENARIO_DESCRIPTION_REFUSED, verdict.message);
        code = verdict.code;
    }
    // A refused description also forgets the one before it: a start time in the same "set"
    // must not arm an older scenario that the hub meant to replace. Armed or running scenarios
    // keep their own copy.
    m_scenario.reset();
    if (code == SCENARIO_OK)
        m_scenario = std::move(parsed);
    m_abortDetectionInterval = 0;
    m_bus->publish(SCENARIO_DESCRIPTION_SET, toPXStatus(code));
}

void PXScenarioManager::setStartTime(const std::string& text)
{
    const std::int64_t value = hubInteger(text);
    const std::int64_t startTime = value / 1000 * 1000;
    ScenarioErrorCode code = SCENARIO_OK;
    if (!m_scenario) {
        code = SCENARIO_STARTTIME_NO_DESCRIPTION;
    } else if (startTime < roamnode::nowNanoseconds()) {
        code = SCENARIO_STARTTIME_IN_PAST;
    } else {
        m_worker->setScenario(m_scenario);
        m_worker->setStartTime(startTime);
        m_bus->publish(SET_SCENARIO_START_TIME, static_cast<unsigned long>(value));
    }
    m_bus->publish(SCENARIO_START_TIME_SET, toPXStatus(code));
}

void PXScenarioManager::setAbortDetectionInterval(const std::string& text)
{
    const std::int64_t value = hubInteger(text);
    ScenarioErrorCode code = SCENARIO_OK;
    if (!m_scenario)
        code = SCENARIO_ABORTINTERVAL_NO_DESCRIPTION;
    else
        m_abortDetectionInterval = static_cast<std::uint64_t>(value);
    m_bus->publish(ABORT_DETECTION_INTERVAL_SET, toPXStatus(code));
}

void PXScenarioManager::resetResultList()
{
    m_results.clear();
    m_worker->clearPendingResults();
    m_bus->publish(RESULT_LIST_SET, PXStatus::Success);
}

void PXScenarioManager::onScenarioWillStart()
{
    m_bus->publish(SCENARIO_STARTING);
}

void PXScenarioManager::onScenarioEnded()
{
    // The record of the run that ended, not that of a description set during the run.
    const auto finished = m_worker->takeFinishedResults();
    m_worker->releaseRun();
    m_results.insert(m_results.end(), finished.begin(), finished.end());
    m_bus->publish(SCENARIO_ENDED);
}

void PXScenarioManager::onScenarioRxSpeed(float speed)
{
    m_bus->publish(RX_SPEED, speed);
}

void PXScenarioManager::onScenarioTxSpeed(float speed)
{
    m_bus->publish(TX_SPEED, speed);
}
