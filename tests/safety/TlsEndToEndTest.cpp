// The heartbeat inside TLS 1.3 with certificates on both sides, between the real endpoint and
// the real hub tool on loopback. The certificates are made here with the openssl command.
#include "RealProcesses.h"

#include <QFile>
#include <QTemporaryDir>

#include <json/reader.h>

#include <gtest/gtest.h>

namespace {

class TlsEndToEnd : public ::testing::Test
{
protected:
    // Two CAs; the hub's certificate for 127.0.0.1 and one for another address; endpoint
    // certificates from the right CA, from the other CA, and an expired one.
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(write("ip.ext", "subjectAltName=IP:127.0.0.1\n"));
        ASSERT_TRUE(write("other-ip.ext", "subjectAltName=IP:192.0.2.1\n"));
        for (const char* ca : {"ca", "other-ca"})
            ASSERT_TRUE(openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                 "ec_paramgen_curve:P-256", "-nodes", "-days", "2", "-subj",
                                 QString("/CN=") + ca, "-keyout", file(ca, "key"), "-out",
                                 file(ca, "pem")}));
        const struct
        {
            const char* name;
            const char* ca;
            const char* days;
            const char* extensions;
        } certificates[] = {
            {"hub", "ca", "2", "ip.ext"},
            {"misnamed-hub", "ca", "2", "other-ip.ext"},
            {"endpoint", "ca", "2", nullptr},
            {"stranger", "other-ca", "2", nullptr},
            {"expired", "ca", "-1", nullptr},
        };
        for (const auto& c : certificates) {
            ASSERT_TRUE(openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                 "-nodes", "-subj", QString("/CN=") + c.name, "-keyout",
                                 file(c.name, "key"), "-out", file(c.name, "csr")}));
            QStringList sign = {"x509", "-req", "-in", file(c.name, "csr"), "-CA", file(c.ca, "pem"),
                                "-CAkey", file(c.ca, "key"), "-CAcreateserial", "-days", c.days,
                                "-out", file(c.name, "pem")};
            if (c.extensions)
                sign << "-extfile" << m_dir.path() + "/" + c.extensions;
            ASSERT_TRUE(openssl(sign));
        }
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

    bool openssl(const QStringList& arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start("openssl", arguments);
        const bool done = process.waitForFinished(30000) && process.exitCode() == 0;
        EXPECT_TRUE(done) << process.readAll().toStdString();
        return done;
    }

    QStringList hubTls(const QString& hubName = "hub") const
    {
        return {"--tls-cert", file(hubName, "pem"), "--tls-key", file(hubName, "key"),
                "--tls-ca", file("ca", "pem")};
    }

    QStringList endpointTls(const QString& name, int port) const
    {
        return {"--ca", file("ca", "pem"), "--cert", file(name, "pem"), "--key",
                file(name, "key"), "tls://127.0.0.1:" + QString::number(port)};
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
    hub.start(ROAMNODE_HUB_BINARY, QStringList{"run", m_dir.path() + "/scenario.json", "--port",
                                               "0", "--bind", "127.0.0.1", "--out",
                                               m_dir.path() + "/out", "--start-in", "1",
                                               "--clock-samples", "1", "--register-timeout",
                                               "30"} +
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
    EXPECT_EQ(root["endpoints"][0]["resultlist"][0]["scenarioid"].asInt(), 3) << root.toStyledString();
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
        {"expired", "hub", "no TLS handshake: endpoint certificate not accepted: certificate "
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
