.pragma library

// What the address field accepts and what it sends to the application. Host names and IPv4
// addresses are left to the resolver; only text with a colon is held to the IPv6 alphabet,
// because that is what people mistype when pasting a link-local address.

function isValid(text)
{
    var lowered = String(text).toLowerCase();
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
    var address = String(text);
    var groups = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})/.exec(address);
    if (!groups)
        return address;
    return [groups[1], groups[2], groups[3], groups[4]].map(function(group) {
        return parseInt(group, 10);
    }).join(".");
}
