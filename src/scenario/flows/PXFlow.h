#pragma once

#include "bus/TimePoint.h"
#include "scenario/ScenarioPlan.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

class PXFlowResult;

// One element of a scenario's "flows" in one run: built from its plan when the run starts,
// creates its traffic engine when run, counts what the engine reports into the PXFlowResult it
// was given and emits the byte counts for the speed gauge.
//
// Threads: built, run and (on a failed start) marked on the main thread; stop and releaseEngine
// come from the scenario run thread; listener operations arrive on the engine's thread. The
// speed counters are written only by resetSpeed (before the engine starts) and by the listener
// operations, one engine thread at a time, so they need no lock. The speed signals are emitted
// on the engine's thread and must be connected queued.
class PXFlow : public QObject
{
    Q_OBJECT

public:
    PXFlow(std::uint32_t id, FlowKind kind, IpVersion ipVersion,
           std::shared_ptr<PXFlowResult> result);
    ~PXFlow() override;

    virtual void stop() = 0;
    virtual void releaseEngine() = 0;
    virtual void resetSpeed();

    std::uint32_t id() const { return m_id; }
    FlowKind kind() const { return m_kind; }
    IpVersion ipVersion() const { return m_ipVersion; }
    const std::shared_ptr<PXFlowResult>& result() const { return m_result; }
    // The time of the last speed signal (or speed reset), ns since the epoch.
    std::int64_t lastReport() const { return m_lastReport; }

signals:
    void flowRxSpeed(roamnode::time_point, float bps, std::chrono::milliseconds diffTime);
    void flowTxSpeed(roamnode::time_point, float bps, std::chrono::milliseconds diffTime);

public slots:
    // Starts the engine. A failure to start (an address that is not one, a port in use, a socket
    // option refused) marks the result as "error" with the cause and leaves the flow without
    // engine; it never leaves this function.
    virtual void run() = 0;

protected:
    // Counts bytes towards the speed report and emits it once a full interval has passed.
    void reportBytes(roamnode::time_point now, std::uint64_t counted);
    // Marks the result as failed with the reason a flow of this kind could not start.
    void failStart(const std::string& what, const std::string& cause);
    // The engine's end, from the engine's thread or (through stop) the run thread: "success",
    // unless this run has failed already. The stop at the end of every run reports the end
    // again, and must not turn a failure into a success.
    void finishResult();
    // The engine ended without doing what it was asked: "error" with the reason.
    void failResult(const std::string& message);

    // Creates the engine, resets the speed report and starts the engine. When either step
    // throws (an address that is not one, a port in use, a refused option) the flow is left
    // without an engine and its result is "error" with `what` and the cause; nothing escapes.
    template <typename Engine, typename Listener, typename Config>
    void startEngine(std::shared_ptr<Engine>& engine, const std::weak_ptr<Listener>& self,
                     const Config& config, const std::string& what)
    {
        std::shared_ptr<Listener> listener;
        try {
            // A flow not owned by a shared pointer cannot hand its engine a weak reference.
            listener = self.lock();
            if (!listener)
                throw std::bad_weak_ptr();
            engine = std::make_shared<Engine>(listener, config);
        } catch (const std::exception& error) {
            engine.reset();
            failStart(what, error.what());
            return;
        }
        listener.reset();
        resetSpeed();
        try {
            engine->start();
        } catch (const std::exception& error) {
            // Stopping first ends whatever the engine had started (a thread, a timer).
            engine->stop();
            engine.reset();
            failStart(what, error.what());
        }
    }

private:
    const std::uint32_t m_id;
    const FlowKind m_kind;
    const IpVersion m_ipVersion;
    const std::shared_ptr<PXFlowResult> m_result;
    std::uint64_t m_bytesSinceReport = 0;
    std::int64_t m_lastReport = 0; // ns since the epoch
    // Guards m_failed and the status of m_result: an engine's thread and the run thread can
    // both report an end at once.
    std::mutex m_endLock;
    bool m_failed = false;
};
