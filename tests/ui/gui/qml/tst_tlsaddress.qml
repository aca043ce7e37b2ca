import QtQuick 2.2
import QtTest 1.1
import "qrc:/js/RvpAddress.js" as RvpAddress

// A hub that wants TLS: "tls://" before the address the field otherwise accepts.
TestCase {
    name: "TlsAddress"

    function test_tls_data()
    {
        return [
            { tag: "ipv4", text: "tls://10.001.0.1", valid: true, sent: "tls://10.1.0.1" },
            { tag: "host name", text: "tls://hub.lab", valid: true, sent: "tls://hub.lab" },
            { tag: "ipv6", text: "TLS://fe80::1", valid: true, sent: "tls://fe80::1" },
            { tag: "scheme alone", text: "tls://", valid: false, sent: "tls://" },
            { tag: "other scheme", text: "http://hub", valid: false, sent: "http://hub" }
        ];
    }

    function test_tls(data)
    {
        compare(RvpAddress.isValid(data.text), data.valid);
        compare(RvpAddress.normalise(data.text), data.sent);
    }
}
