#include "ui/PXHeadlessManager.h"

#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "ui/StatusLine.h"

#include <QMetaObject>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTimer>
#include <QtDebug>

#include <unistd.h>

namespace {
constexpr int kBlinkMs = 500;
}

PXHeadlessManager::PXHeadlessManager(std::shared_ptr<PXEventBus> bus, std::FILE* out)
    : m_bus(std::move(bus)), m_out(out), m_outIsTerminal(isatty(fileno(out)) == 1)
{
    for (const int id : {HEARTBEAT_OK, HEARTBEAT_MISSED, APP_STATE_CHANGED, RX_SPEED, TX_SPEED,
                         SCENARIO_ENDED, DEVICE_ID_NEEDED})
        m_bus->subscribe(id, this);
}

PXHeadlessManager::~PXHeadlessManager()
{
    m_bus->unsubscribe(this);
    // The component object goes before its context and component.
    m_uuidObject.reset();
    m_uuidComponent.reset();
    m_context.reset();
}

void PXHeadlessManager::setup(QQmlEngine* engine)
{
    m_engine = engine;
    m_context = std::make_unique<QQmlContext>(engine->rootContext());
    m_uuidComponent =
        std::make_unique<QQmlComponent>(engine, QUrl(QStringLiteral("qrc:/components/PXUUID.qml")));
    m_uuidObject.reset(m_uuidComponent->create(m_context.get()));
    if (!m_uuidObject)
        qWarning("%s", qPrintable(m_uuidComponent->errorString()));
}

void PXHeadlessManager::handleEvent(int eventId, PXEmptyEventContents)
{
    switch (eventId) {
    case HEARTBEAT_OK:
    case HEARTBEAT_MISSED:
        // Both blink: the blink shows that an exchange took place, not that it succeeded.
        printLine(true);
        QTimer::singleShot(kBlinkMs, this, &PXHeadlessManager::removeHeartbeatIndicator);
        break;
    case SCENARIO_ENDED:
        m_rxSpeed = 0;
        m_txSpeed = 0;
        printLine(false);
        break;
    case DEVICE_ID_NEEDED:
        if (m_uuidObject)
            QMetaObject::invokeMethod(m_uuidObject.get(), "getDeviceId");
        break;
    default:
        break;
    }
}

void PXHeadlessManager::handleEvent(int eventId, float value)
{
    if (eventId == RX_SPEED)
        m_rxSpeed = value;
    else if (eventId == TX_SPEED)
        m_txSpeed = value;
    else
        return;
    printLine(false);
}

void PXHeadlessManager::handleEvent(int eventId, AppState value)
{
    if (eventId != APP_STATE_CHANGED)
        return;
    m_state = value;
    printLine(false);
}

void PXHeadlessManager::removeHeartbeatIndicator()
{
    printLine(false);
}

void PXHeadlessManager::onDeviceIdReady(const QString& deviceId)
{
    m_bus->publish(DEVICE_ID, deviceId.toStdString());
}

void PXHeadlessManager::printLine(bool blink)
{
    std::fputc('\r', m_out);
    std::fputs(roamnode::formatStatusLine(blink, m_state, m_rxSpeed, m_txSpeed).c_str(), m_out);
    if (!m_outIsTerminal)
        std::fputc('\n', m_out);
    std::fflush(m_out);
}
