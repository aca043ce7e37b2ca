#include "app/DeviceIdQuery.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QUrl>

#include <memory>

namespace roamnode {

QString DeviceIdQuery::read(QQmlEngine& engine, QString& error)
{
    DeviceIdQuery receiver;
    QQmlContext context(engine.rootContext());
    // The component reports to whatever the context calls "guiManager".
    context.setContextProperty("guiManager", &receiver);
    QQmlComponent component(&engine, QUrl(QStringLiteral("qrc:/components/PXUUID.qml")));
    std::unique_ptr<QObject> store(component.create(&context));
    if (!store) {
        error = component.errorString();
        return {};
    }
    // The call is synchronous: the component answers before it returns.
    QMetaObject::invokeMethod(store.get(), "getDeviceId");
    if (receiver.m_deviceId.isEmpty())
        error = "the device identifier store gave no identifier";
    return receiver.m_deviceId;
}

} // namespace roamnode
