#include "ui/gui/PXGuiManager.h"

#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "ui/UiResources.h"
#include "ui/gui/StatusBar.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml>

#ifdef ROAMNODE_HAVE_FONTS
static void initFontResource()
{
    Q_INIT_RESOURCE(fonts);
}
#endif

namespace {

const char* const stackName = "stack";

struct StateRow
{
    int actionButton;
    int stateBar;
    bool backAllowed;
};

// Leaving the main page is allowed only while no RVP is wanted; "Unregister" is offered from
// the first contact attempt on and "Abort" only while a scenario runs.
bool stateRow(int state, StateRow& row)
{
    switch (state) {
    case BOOTING:
        row = {PXGuiManager::REGISTER_INACTIVE, 0, true};
        return true;
    case BOOTING_READY:
        row = {PXGuiManager::REGISTER_ACTIVE, 1, true};
        return true;
    case TRY_CONTACT_RVP:
        row = {PXGuiManager::UNREGISTER, 2, false};
        return true;
    case REGISTERED:
        row = {PXGuiManager::UNREGISTER, 3, false};
        return true;
    case ARMED:
        row = {PXGuiManager::ABORT_INACTIVE, 4, false};
        return true;
    case RUNNING:
        row = {PXGuiManager::ABORT_ACTIVE, 5, false};
        return true;
    default:
        return false;
    }
}

QObject* findNamed(QQuickItem* item, const QString& name)
{
    if (!item)
        return nullptr;
    if (item->objectName() == name)
        return item;
    for (QQuickItem* child : item->childItems()) {
        if (QObject* found = findNamed(child, name))
            return found;
    }
    return nullptr;
}

} // namespace

PXGuiManager::PXGuiManager(std::shared_ptr<PXEventBus> bus, EndpointControl* control,
                           QObject* parent)
    : QQmlExtensionPlugin(parent), m_bus(std::move(bus)), m_control(control)
{
}

PXGuiManager::~PXGuiManager()
{
    if (m_bus)
        m_bus->unsubscribe(this);
    m_window.reset();
    m_bus.reset();
}

void PXGuiManager::registerTypes(const char* uri)
{
    // The pages reach the one manager through the context property; QML never creates one.
    qmlRegisterUncreatableType<PXGuiManager>(uri, 1, 0, "PXGuiManager",
                                             "PXGuiManager is the context property guiManager");
    qmlRegisterType<StatusBar>("StatusBar", 0, 1, "StatusBar");
}

void PXGuiManager::setup(QQmlApplicationEngine* engine)
{
    setup(engine, QUrl(QStringLiteral("qrc:/pages/stack.qml")));
}

void PXGuiManager::setup(QQmlApplicationEngine* engine, const QUrl& stackUrl)
{
    m_engine = engine;
    roamnode::initUiResources();
    loadFonts();

    QQmlComponent component(engine, stackUrl);
    if (!component.isReady())
        qWarning("%s", qPrintable(component.errorString()));
    QObject* root = component.create();
    auto* window = qobject_cast<QQuickWindow*>(root);
    if (!window) {
        delete root;
        qFatal("Error: Your root item has to be a Window.");
    }
    m_window.reset(window);
    engine->setIncubationController(window->incubationController());

    for (int id :
         {HEARTBEAT_OK, HEARTBEAT_MISSED, DEVICE_ID_NEEDED, INTERFACES, DEVICE_NAME, DEVICE_TYPE,
          DEVICE_OS, CONNECTION_TYPE, APP_STATE_CHANGED, RX_SPEED, TX_SPEED, SCENARIO_ENDED})
        m_bus->subscribe(id, this);
}

QQuickWindow* PXGuiManager::window() const
{
    return m_window.get();
}

int PXGuiManager::loadFonts()
{
    int loaded = 0;
#ifdef ROAMNODE_HAVE_FONTS
    initFontResource();
    for (const char* style :
         {"Regular", "Italic", "Light", "LightItalic", "Semibold", "SemiboldItalic", "Bold",
          "BoldItalic", "ExtraBold", "ExtraBoldItalic"}) {
        const QString path = QStringLiteral(":/fonts/OpenSans-%1.ttf").arg(style);
        if (QFontDatabase::addApplicationFont(path) >= 0)
            ++loaded;
        else
            qWarning("Cannot load the font %s", qPrintable(path));
    }
#endif
    return loaded;
}

void PXGuiManager::handleEvent(int eventId, PXEmptyEventContents)
{
    switch (eventId) {
    case HEARTBEAT_OK:
    case HEARTBEAT_MISSED:
        callOnPage("appState", "onHeartbeat");
        break;
    case SCENARIO_ENDED:
        callOnPage("speed", "resetMeterSpeed");
        break;
    case DEVICE_ID_NEEDED:
        callOnStack("getDeviceId");
        break;
    default:
        break;
    }
}

void PXGuiManager::handleEvent(int eventId, std::string value)
{
    const QVariant text(QString::fromStdString(value));
    switch (eventId) {
    case INTERFACES:
        callOnPage("data", "changeDeviceInterfaces", text);
        break;
    case DEVICE_NAME:
        callOnPage("data", "changeDeviceName", text);
        break;
    case DEVICE_TYPE:
        callOnPage("data", "changeDeviceType", text);
        break;
    case DEVICE_OS:
        callOnPage("data", "changeDeviceOs", text);
        break;
    case CONNECTION_TYPE:
        callOnPage("data", "changeConnectionType", text);
        break;
    default:
        break;
    }
}

void PXGuiManager::handleEvent(int eventId, AppState value)
{
    if (eventId != APP_STATE_CHANGED)
        return;
    StateRow row;
    if (!stateRow(value, row))
        return;
    callOnPage("actionButton", "changeActionButtonState", row.actionButton);
    callOnPage("appState", "changeAppStateBar", row.stateBar);
    callOnPage("toolbar", "enableBackButton", row.backAllowed);
    callOnStack("enablePreviousPage", row.backAllowed);
}

void PXGuiManager::handleEvent(int eventId, float value)
{
    if (eventId == RX_SPEED)
        callOnPage("speed", "setRxMeterSpeed", value);
    else if (eventId == TX_SPEED)
        callOnPage("speed", "setTxMeterSpeed", value);
}

void PXGuiManager::actionButtonClicked(int state)
{
    if (m_control == nullptr)
        return;
    switch (state) {
    case REGISTER_ACTIVE:
        m_control->reconnect();
        break;
    case UNREGISTER:
        m_control->disconnect();
        break;
    case ABORT_ACTIVE:
        m_control->stopScenario();
        break;
    default:
        // The greyed states are shown but do nothing.
        break;
    }
}

void PXGuiManager::rvpIpAddressSet(const QString& rvpip)
{
    if (m_control != nullptr)
        m_control->connectToRvp(rvpip.toLocal8Bit().toStdString());
}

void PXGuiManager::requestDataRefresh()
{
    if (m_control != nullptr)
        callOnPage("data", "changeRvpIpAddress",
                   QString::fromStdString(m_control->getRvpAddress()));
    // Each answer arrives synchronously as its value event and lands in the data section.
    for (int id :
         {GET_DEVICE_NAME, GET_DEVICE_TYPE, GET_DEVICE_OS, GET_CONNECTION_TYPE, GET_INTERFACES})
        m_bus->publish(id);
}

void PXGuiManager::mainViewCompleted()
{
    if (m_control != nullptr)
        handleEvent(APP_STATE_CHANGED, static_cast<AppState>(m_control->getAppState()));
}

void PXGuiManager::getVersionInfo()
{
    if (m_control != nullptr)
        callOnPage("info", "onVersion", QString::fromStdString(m_control->getVersion()));
}

void PXGuiManager::onDeviceIdReady(const QString& deviceId)
{
    m_bus->publish(DEVICE_ID, deviceId.toUtf8().toStdString());
}

void PXGuiManager::openUrl(const QString& url)
{
    QDesktopServices::openUrl(QUrl(url));
}

QObject* PXGuiManager::findStack() const
{
    if (!m_window)
        return nullptr;
    if (QObject* stack = findNamed(m_window->contentItem(), stackName))
        return stack;
    return m_window->findChild<QObject*>(stackName);
}

// The page on top is the stack's last child item: the stack unparents a page before it
// destroys it, so a page on its way out is never taken for the current one.
QObject* PXGuiManager::findOnTopPage(const char* objectName) const
{
    auto* stack = qobject_cast<QQuickItem*>(findStack());
    if (!stack)
        return nullptr;
    const QList<QQuickItem*> pages = stack->childItems();
    if (pages.isEmpty())
        return nullptr;
    QQuickItem* top = pages.last();
    const QString name = QString::fromLatin1(objectName);
    if (top->objectName() == name)
        return top;
    return top->findChild<QObject*>(name);
}

void PXGuiManager::callOnStack(const char* function, const QVariant& value) const
{
    if (QObject* stack = findStack())
        invoke(stack, function, value);
}

void PXGuiManager::callOnPage(const char* objectName, const char* function,
                              const QVariant& value) const
{
    if (QObject* target = findOnTopPage(objectName))
        invoke(target, function, value);
}

void PXGuiManager::invoke(QObject* target, const char* function, const QVariant& value)
{
    if (value.isValid())
        QMetaObject::invokeMethod(target, function, Qt::AutoConnection, Q_ARG(QVariant, value));
    else
        QMetaObject::invokeMethod(target, function, Qt::AutoConnection);
}
