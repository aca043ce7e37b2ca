#pragma once

#include <QObject>
#include <QString>

class QQmlEngine;

namespace roamnode {

// Reads the persistent device identifier the way the front ends do (the shared QML component
// and its database), creating it on first use, without starting the endpoint. The hub keys
// its maps by this identifier, so an engineer needs it before the first run.
//
// Main thread only; needs the Qt application and the UI resources.
class DeviceIdQuery : public QObject
{
    Q_OBJECT

public:
    // The identifier, or an empty text when the component could not be created (`error` says why).
    static QString read(QQmlEngine& engine, QString& error);

    // Called back by the component.
    Q_INVOKABLE void onDeviceIdReady(const QString& deviceId) { m_deviceId = deviceId; }

private:
    QString m_deviceId;
};

} // namespace roamnode
