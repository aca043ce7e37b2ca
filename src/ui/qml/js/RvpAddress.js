.pragma library

// What the address field accepts and what it sends to the application. Host names and IPv4
// addresses are left to the resolver; only text with a colon is held to the IPv6 alphabet,
// because that is what people mistype when pasting a link-local address. A hub that wants TLS is
// written "tls://" and then its address as above.

var tlsScheme = "tls://";

function withoutScheme(text)
{
    var address = String(text);
    return address.toLowerCase().indexOf(tlsScheme) === 0 ? address.substr(tlsScheme.length)
                                                          : address;
}

function isValid(text)
{
    var lowered = withoutScheme(text).toLowerCase();
    if (lowered.length === 0)
        return false;
    if (lowered.indexOf(":") < 0)
        return true;
    var groups = lowered.split(":");
    if (groups.length > 8)
        return false;
    for (var i = 0; i < groups.length; ++i) {
        if (!/^[0-9a-f]*$/.test(groups[i]))
            return false;
    }
    return true;
}

// "10.001.002.003" would otherwise reach the resolver, which reads leading zeros as octal.
function normalise(text)
{
    var address = withoutScheme(text);
    var scheme = address.length < String(text).length ? tlsScheme : "";
    var groups = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})/.exec(address);
    if (!groups)
        return scheme + address;
    return scheme + [groups[1], groups[2], groups[3], groups[4]].map(function(group) {
        return parseInt(group, 10);
    }).join(".");
}
