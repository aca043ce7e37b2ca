// The heartbeat inside TLS 1.3 with certificates on both sides, between the real endpoint and
// the real hub tool on loopback, with certificates made for each test (make-certificates.sh).
#include "RealProcesses.h"

#include <QFile>
#include <QTemporaryDir>

#include <json/reader.h>

#include <gtest/gtest.h>

namespace {

class TlsEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QProcess make;
        make.setProcessChannelMode(QProcess::MergedChannels);
        make.start("bash", {SAFETY_TEST_DIR "/make-certificates.sh", m_dir.path()});
        ASSERT_TRUE(make.waitForFinished(60000) && make.exitCode() == 0)
            << make.readAll().toStdString();
    }

    QString file(const QString& name, const QString& kind) const
    {
        return m_dir.path() + "/" + name + "." + kind;
    }

    bool write(const QString& name, const QByteArray& text)
    {
        QFile out(m_dir.path() + "/" + name);
        return out.open(QIODevice::WriteOnly) && out.write(text) == text.size();
    }

    QStringList hubTls(const QString& hubName = "hub") const
    {
        return {"--tls-cert",         file(hubName, "pem"), "--tls-key",
                file(hubName, "key"), "--tls-ca",           file("ca", "pem")};
    }

    QStringList endpointTls(const QString& name, int port) const
    {
        return {"--ca",
                file("ca", "pem"),
                "--cert",
                file(name, "pem"),
                "--key",
                file(name, "key"),
                "tls://127.0.0.1:" + QString::number(port)};
    }

    QTemporaryDir m_dir;
};

TEST_F(TlsEndToEnd, AnEndpointWithItsCertificateRegistersAndRunsAScenario)
{
    ASSERT_TRUE(write("scenario.json",
                      "{\"scenarioid\": 3, \"duration\": 300000000, \"flows\": [{\"id\": 1, "
                      "\"flowtype\": \"streamv4\", \"flow\": {\"initialtimetowait\": 0, "
                      "\"srcport\": 0, \"dstipv4\": \"127.0.0.1\", \"dstport\": 9, "
                      "\"interframegap\": 20000000, \"numberofframes\": 5, "
                      "\"contentlist\": [\"00112233\"]}}]}"));
    QProcess hub;
    hub.setProcessChannelMode(QProcess::MergedChannels);
    hub.start(ROAMNODE_HUB_BINARY,
              QStringList{"run", m_dir.path() + "/scenario.json", "--port", "0", "--bind",
                          "127.0.0.1", "--out", m_dir.path() + "/out", "--start-in", "1",
                          "--clock-samples", "1", "--register-timeout", "30"} +
                  hubTls());
    const int port = safetytest::hubPort(hub);
    ASSERT_NE(port, 0);
    QProcess endpoint;
    endpoint.setProcessChannelMode(QProcess::MergedChannels);
    safetytest::startEndpoint(endpoint, m_dir.path() + "/home", endpointTls("endpoint", port));

    std::vector<std::string> lines;
    EXPECT_TRUE(safetytest::waitForLine(hub, "results: ", 60000, lines));
    hub.waitForFinished(10000);
    safetytest::endProcess(endpoint);
    std::string output;
    for (const std::string& line : lines)
        output += line + "\n";
    EXPECT_EQ(hub.exitCode(), 0) << output;
    EXPECT_NE(output.find(": certificate subject CN=endpoint"), std::string::npos) << output;

    QFile results(m_dir.path() + "/out/results.json");
    ASSERT_TRUE(results.open(QIODevice::ReadOnly)) << output;
    Json::Value root;
    ASSERT_TRUE(Json::Reader().parse(results.readAll().toStdString(), root));
    ASSERT_EQ(root["endpoints"].size(), 1u);
    EXPECT_EQ(root["endpoints"][0]["status"].asString(), "done");
    EXPECT_EQ(root["endpoints"][0]["resultlist"][0]["scenarioid"].asInt(), 3)
        << root.toStyledString();
}

TEST_F(TlsEndToEnd, TheHubRefusesCertificatesItCannotTrustAndTheEndpointSaysWhy)
{
    const struct
    {
        const char* certificate;
        const char* hubCertificate;
        const char* hubSays;
        const char* endpointSays;
    } cases[] = {
        {"stranger", "hub", "no TLS handshake: endpoint certificate not accepted: unable to get",
         "TLS: the hub refused this endpoint's certificate: unknown ca"},
        {"expired", "hub",
         "no TLS handshake: endpoint certificate not accepted: certificate "
         "has expired",
         "TLS: the hub refused this endpoint's certificate: certificate expired"},
        {"endpoint", "misnamed-hub", "no TLS handshake",
         "TLS: the hub's certificate is not accepted: IP address mismatch"},
        {nullptr, "hub", "no TLS handshake", nullptr},
    };
    for (const auto& entry : cases) {
        QProcess hub;
        hub.setProcessChannelMode(QProcess::MergedChannels);
        hub.start(ROAMNODE_HUB_BINARY,
                  QStringList{"--port", "0", "--bind", "127.0.0.1"} + hubTls(entry.hubCertificate));
        const int port = safetytest::hubPort(hub);
        ASSERT_NE(port, 0);
        QProcess endpoint;
        endpoint.setProcessChannelMode(QProcess::MergedChannels);
        if (entry.certificate)
            safetytest::startEndpoint(endpoint, m_dir.path() + "/home",
                                      endpointTls(entry.certificate, port));
        else // No certificate at all: a TLS client that offers none.
            endpoint.start("openssl", {"s_client", "-connect", "127.0.0.1:" + QString::number(port),
                                       "-CAfile", file("ca", "pem")});
        std::vector<std::string> hubLines;
        EXPECT_TRUE(safetytest::waitForLine(hub, "exchange with 127.0.0.1:", 15000, hubLines))
            << entry.hubSays;
        EXPECT_NE(hubLines.back().find(entry.hubSays), std::string::npos) << hubLines.back();
        if (entry.endpointSays) {
            std::vector<std::string> endpointLines;
            const std::string reason =
                "cannot reach 127.0.0.1:" + std::to_string(port) + ": " + entry.endpointSays;
            EXPECT_TRUE(safetytest::waitForLine(endpoint, reason, 15000, endpointLines))
                << (endpointLines.empty() ? std::string() : endpointLines.back());
        }
        safetytest::endProcess(endpoint);
        safetytest::endProcess(hub);
    }
}

} // namespace
