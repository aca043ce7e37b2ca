// The heartbeat inside TLS 1.3 with certificates on both sides, between the real endpoint and
// the real hub tool on loopback, with certificates made for the test (make-certificates.sh).
#include "JsonParse.h"
#include "RealProcesses.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace std::chrono_literals;

using testsupport::ChildProcess;

// The endpoint says why the hub refused it, and refuses a hub whose certificate does not name its
// address.
TEST(TlsEndToEnd, UntrustedCertificatesAreRefusedAndTheTrustedEndpointRunsAScenario)
{
    QTemporaryDir temporary;
    ASSERT_TRUE(temporary.isValid());
    const std::string dir = temporary.path().toStdString();
    ChildProcess make("/bin/bash", {SAFETY_TEST_DIR "/make-certificates.sh", dir});
    ASSERT_EQ(make.waitForExit(60s), 0) << make.allOutput();
    const auto file = [&dir](const std::string& name, const std::string& kind) {
        return dir + "/" + name + "." + kind;
    };
    // The hub tool with `arguments`, then its certificate `name`, key and CA.
    const auto tlsHub = [&file](const std::string& name, std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--tls-cert", file(name, "pem"), "--tls-key",
                                           file(name, "key"), "--tls-ca", file("ca", "pem")});
        return testsupport::startHub(0, arguments);
    };
    const auto endpoint = [&](const std::string& name, int port) {
        return testsupport::startEndpoint(dir, {"--ca", file("ca", "pem"), "--cert",
                                                file(name, "pem"), "--key", file(name, "key"),
                                                "tls://127.0.0.1:" + std::to_string(port)});
    };

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
         "no TLS handshake: endpoint certificate not accepted: certificate has expired",
         "TLS: the hub refused this endpoint's certificate: certificate expired"},
        {"endpoint", "misnamed-hub", "no TLS handshake",
         "TLS: the hub's certificate is not accepted: IP address mismatch"},
        {nullptr, "hub", "no TLS handshake", nullptr},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.hubSays);
        const auto hub =
            tlsHub(entry.hubCertificate, {"{\"command\": \"get\", \"resultlist\": \"\"}"});
        const int port = testsupport::listeningPort(*hub);
        ASSERT_NE(port, 0);
        // No certificate at all: a TLS client that offers none.
        const auto client = entry.certificate
                                ? endpoint(entry.certificate, port)
                                : std::make_unique<ChildProcess>(
                                      "/usr/bin/openssl",
                                      std::vector<std::string>{"s_client", "-connect",
                                                               "127.0.0.1:" + std::to_string(port),
                                                               "-CAfile", file("ca", "pem")});
        EXPECT_TRUE(testsupport::says(*hub, entry.hubSays)) << hub->allOutput();
        if (entry.endpointSays) {
            EXPECT_TRUE(
                testsupport::says(*client, "cannot reach 127.0.0.1:" + std::to_string(port) + ": " +
                                               entry.endpointSays))
                << client->allOutput();
        }
    }

    std::ofstream(dir + "/scenario.json")
        << "{\"scenarioid\": 3, \"duration\": 300000000, \"flows\": [{\"id\": 1, "
           "\"flowtype\": \"streamv4\", \"flow\": {\"initialtimetowait\": 0, \"srcport\": 0, "
           "\"dstipv4\": \"127.0.0.1\", \"dstport\": 9, \"interframegap\": 20000000, "
           "\"numberofframes\": 5, \"contentlist\": [\"00112233\"]}}]}";
    const auto hub =
        tlsHub("hub", {"run", dir + "/scenario.json", "--out", dir + "/out", "--start-in", "1",
                       "--clock-samples", "1", "--register-timeout", "30"});
    const int port = testsupport::listeningPort(*hub);
    ASSERT_NE(port, 0) << hub->allOutput();
    const auto client = endpoint("endpoint", port);
    EXPECT_EQ(hub->waitForExit(70s), 0) << hub->allOutput();
    EXPECT_NE(hub->allOutput().find(": certificate subject CN=endpoint"), std::string::npos)
        << hub->allOutput();
    std::ifstream results(dir + "/out/results.json");
    const auto root = testsupport::parsed(
        std::string(std::istreambuf_iterator<char>(results), std::istreambuf_iterator<char>()));
    ASSERT_TRUE(root) << hub->allOutput();
    ASSERT_EQ((*root)["endpoints"].size(), 1u);
    EXPECT_EQ((*root)["endpoints"][0]["status"].asString(), "done");
    EXPECT_EQ((*root)["endpoints"][0]["resultlist"][0]["scenarioid"].asInt(), 3);
}

} // namespace
