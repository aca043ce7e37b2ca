.pragma library
.import "Database.js" as Database

// The persistent device identifier, read from (or first written to) the DeviceID table that
// the console front end's PXUUID component uses as well, so both front ends report one device.

function randomUuid()
{
    var hex = "0123456789abcdef";
    var text = "";
    var pattern = "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx";
    for (var i = 0; i < pattern.length; ++i) {
        var c = pattern.charAt(i);
        var r = Math.floor(Math.random() * 16);
        if (c === "x")
            text += hex.charAt(r);
        else if (c === "y")
            text += hex.charAt(8 + (r & 3));
        else
            text += c;
    }
    return text;
}

function readOrCreate()
{
    var db = Database.open();
    var uuid = "";
    db.transaction(function(tx) {
        tx.executeSql("CREATE TABLE IF NOT EXISTS DeviceID(uuid TEXT)");
        var rows = tx.executeSql("SELECT * FROM DeviceID").rows;
        if (rows.length > 0) {
            uuid = rows.item(0).uuid;
        } else {
            uuid = randomUuid();
            tx.executeSql("INSERT INTO DeviceID VALUES(?)", [uuid]);
        }
    });
    return uuid;
}
