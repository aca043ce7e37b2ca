#pragma once

#include "bus/PXEventHandler.h"

#include <QObject>
#include <QString>

#include <cstdio>
#include <memory>

class PXEventBus;
class QQmlComponent;
class QQmlContext;
class QQmlEngine;

// The console front end: one status line rewritten in place (state, heartbeat blink, live
// speeds), and the persistent device identifier kept by the QML component PXUUID.
//
// Main thread only: bus deliveries, the blink timer and the QML component run in the Qt event
// loop.
class PXHeadlessManager : public QObject, public PXEventHandler
{
    Q_OBJECT

public:
    using PXEventHandler::handleEvent;

    // `out` is where the line goes; whether it is a terminal decides between "\r" rewrites in
    // place and one line per update.
    explicit PXHeadlessManager(std::shared_ptr<PXEventBus> bus, std::FILE* out = stdout);
    ~PXHeadlessManager() override;

    // Called after the context property "guiManager" points at this object.
    void setup(QQmlEngine* engine);

    void handleEvent(int eventId, PXEmptyEventContents) override;
    void handleEvent(int eventId, float value) override;
    void handleEvent(int eventId, AppState value) override;

public slots:
    void removeHeartbeatIndicator();
    void onDeviceIdReady(const QString& deviceId);

private:
    void printLine(bool blink);

    std::shared_ptr<PXEventBus> m_bus;
    std::FILE* m_out;
    bool m_outIsTerminal;
    QQmlEngine* m_engine = nullptr;
    std::unique_ptr<QQmlContext> m_context;
    std::unique_ptr<QQmlComponent> m_uuidComponent;
    std::unique_ptr<QObject> m_uuidObject;
    AppState m_state = BOOTING;
    float m_rxSpeed = 0;
    float m_txSpeed = 0;
};
