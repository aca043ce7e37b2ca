// Qt Quick Test runner for the window's QML and JavaScript logic. Each test file gets a fresh
// engine whose local storage lives in a temporary folder, and a stand-in for the native side
// that records what the sections under test ask of it.

#include <QObject>
#include <QQmlContext>
#include <QQmlEngine>
#include <QStringList>
#include <QTemporaryDir>
#include <QtQuickTest>

class NativeSideRecorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList rvpAddresses MEMBER m_rvpAddresses)
    Q_PROPERTY(QStringList deviceIds MEMBER m_deviceIds)
    Q_PROPERTY(QVariantList actionStates MEMBER m_actionStates)
    Q_PROPERTY(int refreshCount MEMBER m_refreshCount)
    Q_PROPERTY(int versionRequests MEMBER m_versionRequests)

public:
    Q_INVOKABLE void actionButtonClicked(int state) { m_actionStates.append(state); }
    Q_INVOKABLE void rvpIpAddressSet(const QString& rvpip) { m_rvpAddresses.append(rvpip); }
    Q_INVOKABLE void requestDataRefresh() { ++m_refreshCount; }
    Q_INVOKABLE void getVersionInfo() { ++m_versionRequests; }
    Q_INVOKABLE void onDeviceIdReady(const QString& deviceId) { m_deviceIds.append(deviceId); }
    Q_INVOKABLE void clear()
    {
        m_rvpAddresses.clear();
        m_deviceIds.clear();
        m_actionStates.clear();
        m_refreshCount = 0;
        m_versionRequests = 0;
    }

public slots:
    // Qt Quick Test calls this for every engine it makes.
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->setOfflineStoragePath(m_storage.path());
        engine->rootContext()->setContextProperty("guiManager", this);
    }

private:
    QTemporaryDir m_storage;
    QStringList m_rvpAddresses;
    QStringList m_deviceIds;
    QVariantList m_actionStates;
    int m_refreshCount = 0;
    int m_versionRequests = 0;
};

QUICK_TEST_MAIN_WITH_SETUP(gui_qml, NativeSideRecorder)

#include "QmlTestMain.moc"
