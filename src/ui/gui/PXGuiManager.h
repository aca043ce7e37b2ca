#pragma once

#include "bus/PXEventHandler.h"
#include "ui/EndpointControl.h"

#include <QQmlExtensionPlugin>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <memory>

class PXEventBus;
class QQmlApplicationEngine;
class QQuickWindow;

// The native side of the window: loads the page stack, forwards bus events to the page on top
// by calling its QML functions, and offers the pages the operations they invoke through the
// context property "guiManager".
//
// Main thread only: bus deliveries and QML calls are direct calls in the Qt event loop.
class PXGuiManager : public QQmlExtensionPlugin, public PXEventHandler
{
    Q_OBJECT

public:
    using PXEventHandler::handleEvent;

    // Values of the action button, as the main page shows them.
    enum ActionButtonState {
        REGISTER_INACTIVE = 0,
        REGISTER_ACTIVE = 1,
        UNREGISTER = 2,
        ABORT_INACTIVE = 3,
        ABORT_ACTIVE = 4,
    };

    // The buttons and the address field act on `control`; a manager made only to register the
    // QML types has none and ignores them.
    PXGuiManager(std::shared_ptr<PXEventBus> bus, EndpointControl* control,
                 QObject* parent = nullptr);
    ~PXGuiManager() override;

    void registerTypes(const char* uri) override;

    // Called after the context property "guiManager" points at this object. Ends the program
    // when the page stack does not give a window.
    void setup(QQmlApplicationEngine* engine);
    // The same with another root file; tests load a small stack of their own with it.
    void setup(QQmlApplicationEngine* engine, const QUrl& stackUrl);

    QQuickWindow* window() const;

    void handleEvent(int eventId, PXEmptyEventContents) override;
    void handleEvent(int eventId, std::string value) override;
    void handleEvent(int eventId, AppState value) override;
    void handleEvent(int eventId, float value) override;

    // The pages call these, in this order in the meta-object.
    Q_INVOKABLE void actionButtonClicked(int state);
    Q_INVOKABLE void rvpIpAddressSet(const QString& rvpip);
    Q_INVOKABLE void requestDataRefresh();
    Q_INVOKABLE void mainViewCompleted();
    Q_INVOKABLE void getVersionInfo();
    Q_INVOKABLE void onDeviceIdReady(const QString& deviceId);
    Q_INVOKABLE void openUrl(const QString& url);

    // The font files compiled into the resources; the pages ask for the family "Open Sans".
    static int loadFonts();

private:
    QObject* findStack() const;
    QObject* findOnTopPage(const char* objectName) const;
    void callOnStack(const char* function, const QVariant& value = QVariant()) const;
    void callOnPage(const char* objectName, const char* function,
                    const QVariant& value = QVariant()) const;
    static void invoke(QObject* target, const char* function, const QVariant& value);

    std::shared_ptr<PXEventBus> m_bus;
    EndpointControl* const m_control;
    std::shared_ptr<QQuickWindow> m_window;
    QQmlApplicationEngine* m_engine = nullptr;
};
