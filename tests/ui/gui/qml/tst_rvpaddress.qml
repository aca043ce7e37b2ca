import QtQuick 2.2
import QtTest 1.1
import "qrc:/js/RvpAddress.js" as RvpAddress

TestCase {
    name: "RvpAddress"

    function test_validation_data()
    {
        return [
            { tag: "empty", text: "", valid: false },
            { tag: "ipv4", text: "192.168.1.10", valid: true },
            { tag: "host name", text: "server.local", valid: true },
            { tag: "anything without a colon", text: "not a host!", valid: true },
            { tag: "link-local ipv6", text: "fe80::1", valid: true },
            { tag: "upper-case ipv6", text: "FE80::ABCD", valid: true },
            { tag: "loopback ipv6", text: "::1", valid: true },
            { tag: "eight groups", text: "1:2:3:4:5:6:7:8", valid: true },
            { tag: "nine groups", text: "1:2:3:4:5:6:7:8:9", valid: false },
            { tag: "letter g", text: "fe80::g1", valid: false },
            { tag: "zone index", text: "fe80::1%eth0", valid: false },
            { tag: "port after ipv4", text: "10.0.0.1:9100", valid: false },
            // A hub that wants TLS: "tls://" before the address the field otherwise accepts.
            { tag: "tls ipv4", text: "tls://10.001.0.1", valid: true },
            { tag: "tls host name", text: "tls://hub.lab", valid: true },
            { tag: "tls ipv6", text: "TLS://fe80::1", valid: true },
            { tag: "tls scheme alone", text: "tls://", valid: false },
            { tag: "other scheme", text: "http://hub", valid: false }
        ];
    }

    function test_validation(data)
    {
        compare(RvpAddress.isValid(data.text), data.valid);
    }

    function test_normalisation_data()
    {
        return [
            { tag: "leading zeros", text: "10.001.002.003", sent: "10.1.2.3" },
            { tag: "plain ipv4", text: "192.168.1.10", sent: "192.168.1.10" },
            { tag: "zeros only", text: "000.000.000.000", sent: "0.0.0.0" },
            { tag: "trailing text dropped", text: "10.0.0.1abc", sent: "10.0.0.1" },
            { tag: "host name", text: "server.local", sent: "server.local" },
            { tag: "three groups", text: "10.1.2", sent: "10.1.2" },
            { tag: "digits in a host name", text: "10.1.2.host", sent: "10.1.2.host" },
            { tag: "ipv6", text: "fe80::1", sent: "fe80::1" },
            { tag: "tls ipv4", text: "tls://10.001.0.1", sent: "tls://10.1.0.1" },
            { tag: "tls host name", text: "tls://hub.lab", sent: "tls://hub.lab" },
            { tag: "tls ipv6", text: "TLS://fe80::1", sent: "tls://fe80::1" },
            { tag: "tls scheme alone", text: "tls://", sent: "tls://" },
            { tag: "other scheme", text: "http://hub", sent: "http://hub" }
        ];
    }

    function test_normalisation(data)
    {
        compare(RvpAddress.normalise(data.text), data.sent);
    }
}
