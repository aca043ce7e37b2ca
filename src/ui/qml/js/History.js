.pragma library
.import "Database.js" as Database

// The RVP addresses the user entered, newest with the highest ID. Older versions of the program
// kept a single address in the table RvpIp (one column per dotted group); it is carried over
// once, the first time the history table turns out to be missing.

var createTable = "CREATE TABLE IF NOT EXISTS RallyhubHistory("
        + "ID INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, field TEXT)";

function historyReadable(db)
{
    try {
        db.readTransaction(function(tx) {
            tx.executeSql("SELECT * FROM RallyhubHistory");
        });
        return true;
    } catch (error) {
        return false;
    }
}

function migrate(db)
{
    var address = "";
    try {
        db.readTransaction(function(tx) {
            var rows = tx.executeSql("SELECT * FROM RvpIp").rows;
            if (rows.length > 0) {
                var row = rows.item(0);
                address = [row.field1, row.field2, row.field3, row.field4].join(".");
            }
        });
    } catch (error) {
        // No old table either: a history that starts empty is all there is to carry over.
    }
    db.transaction(function(tx) {
        tx.executeSql(createTable);
        if (address !== "")
            tx.executeSql("INSERT INTO RallyhubHistory(field) VALUES(?)", [address]);
    });
}

function open()
{
    var db = Database.open();
    if (db.version === "1.0") {
        if (!historyReadable(db))
            migrate(db);
    } else if (db.version === "") {
        db.changeVersion("", "1.0", function(tx) {
            tx.executeSql(createTable);
        });
        db = Database.open();
    }
    return db;
}

// Newest first; limit <= 0 returns every row.
function load(db, limit)
{
    var entries = [];
    db.readTransaction(function(tx) {
        var rows = tx.executeSql("SELECT ID, field FROM RallyhubHistory ORDER BY ID DESC").rows;
        for (var i = 0; i < rows.length && (limit <= 0 || i < limit); ++i)
            entries.push({ "rowId": rows.item(i).ID, "address": rows.item(i).field });
    });
    return entries;
}

function store(db, address)
{
    if (!address)
        return;
    db.transaction(function(tx) {
        tx.executeSql(createTable);
        tx.executeSql("DELETE FROM RallyhubHistory WHERE field = ?", [address]);
        tx.executeSql("INSERT INTO RallyhubHistory(field) VALUES(?)", [address]);
    });
}

function remove(db, rowId)
{
    db.transaction(function(tx) {
        tx.executeSql("DELETE FROM RallyhubHistory WHERE ID = ?", [rowId]);
    });
}

function clear(db)
{
    db.transaction(function(tx) {
        tx.executeSql("DELETE FROM RallyhubHistory WHERE ID > 0");
    });
}
