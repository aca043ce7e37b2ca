#include "app/GraphicalStart.h"

#include "app/Roamnode.h"
#include "app/StopSignals.h"
#include "bus/Version.h"
#include "heartbeat/TlsClientContext.h"
#include "ui/UiResources.h"
#include "ui/gui/PXGuiManager.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QQmlApplicationEngine>
#include <QQmlContext>

#include <csignal>
#include <memory>
#include <syslog.h>

namespace roamnode {

namespace {

// The URI under which the pages could import the manager's type.
const char* const typeUri = "com.pellix.roamnode";

} // namespace

int startGraphical(int argc, char** argv)
{
    syslog(1, "Starting with GUI");

    // Must be set before the application object exists to take effect.
    QCoreApplication::setAttribute(Qt::AA_UseDesktopOpenGL);
    auto app = std::make_unique<QGuiApplication>(argc, argv);
    QCoreApplication::setApplicationVersion(kVersion);
    initUiResources();

    auto roamnode = std::make_unique<Roamnode>();
    // A tls:// address typed on the first page uses the service's certificates; when they
    // cannot be used, the reason is what the window shows for that hub.
    std::string tlsError;
    auto tls = TlsClientContext::create(defaultTlsFiles(), tlsError);
    roamnode->setTls(tls, tlsError);
    std::shared_ptr<PXEventBus> bus = roamnode->getEventBus();
    auto frontEnd = std::make_unique<PXGuiManager>(bus, roamnode.get());

    auto engine = std::make_unique<QQmlApplicationEngine>();
    frontEnd->registerTypes(typeUri);
    engine->rootContext()->setContextProperty("guiManager", frontEnd.get());
    frontEnd->setup(engine.get());

    auto icon = std::make_unique<QPixmap>(QStringLiteral(":images/pellix.png"));
    QGuiApplication::setWindowIcon(QIcon(*icon));

    std::signal(SIGPIPE, SIG_IGN);
    StopSignals stopSignals;

    // No RVP address yet: the user types it on the first page.
    roamnode->start();

    const int status = app->exec();

    roamnode->stop();
    icon.reset();
    engine.reset();
    frontEnd.reset();
    bus.reset();
    roamnode.reset();
    app.reset();
    return status;
}

} // namespace roamnode
