#include "app/ConsoleStart.h"

#include "app/DeviceIdQuery.h"
#include "app/Roamnode.h"
#include "app/StopSignals.h"
#include "bus/Version.h"
#include "heartbeat/TlsClientContext.h"
#include "policy/PolicyFile.h"
#include "ui/PXHeadlessManager.h"
#include "ui/UiResources.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QQmlContext>
#include <QQmlEngine>

#include <csignal>
#include <cstdio>
#include <memory>
#include <syslog.h>

namespace roamnode {

int startConsole(int argc, char** argv)
{
    syslog(1, "Starting headless");
    for (int i = 0; i < argc; ++i)
        syslog(1, "arg: %s", argv[i]);

    auto app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationVersion(kVersion);
    initUiResources();

    auto parser = std::make_unique<QCommandLineParser>();
    parser->setApplicationDescription("Connect the Roamnode to the Pellix Rallyhub and it will "
                                      "serve as a traffic generator and monitor");
    const QCommandLineOption helpOption = parser->addHelpOption();
    const QCommandLineOption versionOption = parser->addVersionOption();
    const QCommandLineOption deviceIdOption(
        "device-id", "Print this endpoint's device identifier (created on first use) and exit.");
    parser->addOption(deviceIdOption);
    const QCommandLineOption policyOption(
        "policy",
        "Refuse every scenario that breaks the limits in <file> (JSON with comments): allowed "
        "destination networks, stream and total rates, duration, flows, HTTP rate limits, "
        "local UDP ports. A file that cannot be read stops the endpoint (status 2).",
        "file");
    parser->addOption(policyOption);
    const QCommandLineOption caOption(
        "ca",
        "For a tls://HOST[:PORT] rallyhub: the CA that signed the hub's certificate (PEM; "
        "default /etc/roamnode/tls/ca.pem).",
        "file");
    const QCommandLineOption certOption(
        "cert",
        "For a tls:// rallyhub: this endpoint's certificate (PEM; default "
        "/etc/roamnode/tls/endpoint.pem).",
        "file");
    const QCommandLineOption keyOption(
        "key",
        "For a tls:// rallyhub: this endpoint's private key (PEM; default "
        "/etc/roamnode/tls/endpoint.key).",
        "file");
    parser->addOptions({caOption, certOption, keyOption});
    parser->addPositionalArgument("rallyhub",
                                  "The IP address or resolving domain name of the rallyhub");
    // Unknown options end the process with status 1, help and version with 0.
    parser->process(*app);

    const QStringList positional = parser->positionalArguments();
    if (parser->isSet(helpOption) || parser->isSet(versionOption))
        return 0;
    if (parser->isSet(deviceIdOption)) {
        QQmlEngine engine;
        QString error;
        const QString deviceId = DeviceIdQuery::read(engine, error);
        if (deviceId.isEmpty()) {
            std::fprintf(stderr, "roamnode: cannot read the device identifier: %s\n",
                         qPrintable(error));
            return 1;
        }
        std::printf("%s\n", qPrintable(deviceId));
        return 0;
    }
    // Two addresses, or none at all (only "--" given): status -1, 255 to the shell.
    if (positional.size() != 1)
        parser->showHelp(-1);

    // Fail closed: an endpoint told to keep a policy never runs without it.
    std::shared_ptr<const PXPolicy> policy;
    if (parser->isSet(policyOption)) {
        auto read = std::make_shared<PXPolicy>();
        std::string error;
        if (!roamnode::readPolicyFile(parser->value(policyOption).toStdString(), *read, error)) {
            std::fprintf(stderr, "roamnode: policy not used, not starting: %s\n", error.c_str());
            return 2;
        }
        policy = read;
        const std::string line = "policy: " + policy->summary();
        syslog(1, "%s", line.c_str());
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    // TLS only for a tls:// hub; files that cannot be used stop the start, like a policy.
    const std::string address = positional.first().toUtf8().toStdString();
    std::shared_ptr<roamnode::TlsClientContext> tls;
    if (address.rfind("tls://", 0) == 0) {
        roamnode::TlsFiles files = roamnode::defaultTlsFiles();
        if (parser->isSet(caOption))
            files.ca = parser->value(caOption).toStdString();
        if (parser->isSet(certOption))
            files.cert = parser->value(certOption).toStdString();
        if (parser->isSet(keyOption))
            files.key = parser->value(keyOption).toStdString();
        std::string error;
        tls = roamnode::TlsClientContext::create(files, error);
        if (!tls) {
            std::fprintf(stderr, "roamnode: TLS not usable, not starting: %s\n", error.c_str());
            return 2;
        }
    } else if (parser->isSet(caOption) || parser->isSet(certOption) || parser->isSet(keyOption)) {
        // Certificates given for a plain address: the user expects a channel that would not be.
        std::fprintf(stderr,
                     "roamnode: --ca, --cert and --key are for a tls:// rallyhub; %s is a plain "
                     "address, not starting\n",
                     address.c_str());
        return 2;
    }

    auto roamnode = std::make_unique<Roamnode>();
    roamnode->setPolicy(policy);
    roamnode->setTls(tls, std::string());
    std::shared_ptr<PXEventBus> bus = roamnode->getEventBus();
    auto frontEnd = std::make_unique<PXHeadlessManager>(bus);

    auto engine = std::make_unique<QQmlEngine>();
    engine->rootContext()->setContextProperty("guiManager", frontEnd.get());
    frontEnd->setup(engine.get());

    std::signal(SIGPIPE, SIG_IGN);
    StopSignals stopSignals;

    roamnode->start();
    roamnode->connectToRvp(address);

    const int status = app->exec();

    roamnode->stop();
    engine.reset();
    frontEnd.reset();
    bus.reset();
    roamnode.reset();
    parser.reset();
    app.reset();
    return status;
}

} // namespace roamnode
