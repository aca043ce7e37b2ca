// The real program answering the real hub tool, each in its own process, on loopback: the device
// variables arrive at the hub and every JSON text among them parses.

#include "HostInterfaceSystem.h"
#include "InterfaceReader.h"
#include "PXMobileManager.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <json/json.h>

#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <chrono>
#include <memory>
#include <string>

namespace {

const char* const kRequest =
    "{\"command\": \"get\", \"batterylevel\": \"\", \"device-os\": \"\", "
    "\"device-os-version\": \"\", \"device-givenname\": \"\", \"device-type\": \"\", "
    "\"device-ipv4\": \"\", \"device-ipv6\": \"\", \"ssid\": \"\", \"interfaces\": \"\", "
    "\"networkinfo\": \"\"}";

// Ends a child the test started, asking first.
class Child
{
public:
    explicit Child(const QString& workDir)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The device id database and the log file stay inside the test's directory.
        environment.insert("HOME", workDir);
        environment.insert("XDG_DATA_HOME", workDir + "/data");
        environment.insert("XDG_CONFIG_HOME", workDir + "/config");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(workDir);
    }

    ~Child()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    QProcess process;
};

// The first line of standard output holding the text, read within the time limit.
std::string lineWith(QProcess& process, std::string& buffer, const std::string& text,
                     std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        buffer += process.readAllStandardOutput().toStdString();
        std::size_t start = 0;
        for (std::size_t eol; (eol = buffer.find('\n', start)) != std::string::npos;
             start = eol + 1) {
            const std::string line = buffer.substr(start, eol - start);
            if (line.find(text) != std::string::npos)
                return line;
        }
        if (std::chrono::steady_clock::now() >= end)
            return {};
        if (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning) {
            buffer += process.readAllStandardOutput().toStdString();
            if (buffer.find(text) == std::string::npos)
                return {};
        }
    }
}

bool parse(const std::string& text, Json::Value& value)
{
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &value, &errors);
}

} // namespace

TEST(DeviceRoundTrip, HubReadsTheDeviceVariables)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    Child hub(dir.path());
    hub.process.start(ROAMNODE_HUB_BINARY,
                      {"--port", "0", "--bind", "127.0.0.1", "--exit-after-replies", "1",
                       "--reply-timeout", "10000", kRequest});
    ASSERT_TRUE(hub.process.waitForStarted(5000));
    std::string hubOutput;
    const std::string listening =
        lineWith(hub.process, hubOutput, "listening on 127.0.0.1:", std::chrono::seconds(5));
    ASSERT_FALSE(listening.empty()) << hubOutput;
    const std::string address = listening.substr(listening.find("127.0.0.1:"));

    Child node(dir.path());
    node.process.start(ROAMNODE_BINARY, {QString::fromStdString(address)});
    ASSERT_TRUE(node.process.waitForStarted(5000));

    const std::string replyLine =
        lineWith(hub.process, hubOutput, "reply ", std::chrono::seconds(20));
    ASSERT_FALSE(replyLine.empty())
        << hubOutput << "\nendpoint: " << node.process.readAllStandardError().toStdString();
    const std::string reply = replyLine.substr(replyLine.find('{'));

    Json::Value value;
    ASSERT_TRUE(parse(reply, value)) << reply;
    EXPECT_EQ(value["status"].asString(), "success") << reply;

    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(value["device-os"].asString(), names.sysname);
    EXPECT_EQ(value["device-givenname"].asString(), names.nodename);
    EXPECT_EQ(value["device-type"].asString(), "Desktop");
    EXPECT_EQ(value["device-os-version"].asString(), PXMobileManager::osVersion());
    EXPECT_DOUBLE_EQ(value["batterylevel"].asDouble(), -1.0);
    EXPECT_TRUE(value["ssid"].isString());
    EXPECT_EQ(value["device-ipv4"].asString(),
              PXMobileManager::usableIpv4(readInterfaces(hostInterfaceSystem())));
    EXPECT_TRUE(value["device-ipv6"].isArray()) << reply;

    const Json::Value& interfaces = value["interfaces"];
    ASSERT_TRUE(interfaces.isArray()) << reply;
    bool loopback = false;
    for (const Json::Value& record : interfaces) {
        if (record["name"].asString() == "lo") {
            loopback = true;
            EXPECT_EQ(record["type"].asString(), "loopback");
            EXPECT_EQ(record["ipv4"][0].asString(), "127.0.0.1");
        }
    }
    EXPECT_TRUE(loopback) << reply;

    const Json::Value& network = value["networkinfo"];
    ASSERT_TRUE(network.isObject()) << reply;
    EXPECT_TRUE(network["interfaces"].isArray());
    EXPECT_TRUE(network["ssid"].isString());
    EXPECT_TRUE(network["bssid"].isString());

    EXPECT_TRUE(hub.process.waitForFinished(5000));
}
