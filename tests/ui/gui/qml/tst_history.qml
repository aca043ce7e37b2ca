import QtQuick 2.2
import QtTest 1.1
import "qrc:/js/History.js" as History
import "qrc:/js/Database.js" as Database

TestCase {
    id: testCase
    name: "History"
    width: 400
    height: 400
    when: windowShown
    visible: true

    // Each test gets a database file of its own: a table that a not yet collected result set
    // still reads cannot be dropped, so emptying one shared file between tests is unreliable.
    function init()
    {
        Database.name = "PXDatabaseHistoryTest" + Date.now() + Math.floor(Math.random() * 1e6);
        guiManager.clear();
    }

    function addresses(entries)
    {
        return entries.map(function(entry) { return entry.address; });
    }

    function test_newest_first_a_repeated_address_moves_to_the_top_remove_and_clear()
    {
        var db = History.open();
        History.store(db, ""); // not stored
        History.store(db, "a.example");
        History.store(db, "b.example");
        compare(addresses(History.load(db, 5)), ["b.example", "a.example"]);
        History.store(db, "a.example");
        compare(addresses(History.load(db, 0)), ["a.example", "b.example"]);
        History.remove(db, History.load(db, 0)[1].rowId);
        compare(addresses(History.load(db, 0)), ["a.example"]);
        History.clear(db);
        compare(History.load(db, 0).length, 0);
    }

    // What the older program left: version "1.0", without or with the single-address table.
    function test_migration_from_the_single_address_table()
    {
        compare(Database.open().version, "");
        compare(History.open().version, "1.0");
        Database.name += "-without";
        Database.open().changeVersion("", "1.0", function(tx) {});
        var db = History.open();
        compare(History.load(db, 5).length, 0);
        compare(db.version, "1.0");
        History.store(db, "10.0.0.1");
        compare(addresses(History.load(db, 5)), ["10.0.0.1"]);

        Database.name += "-with";
        Database.open().changeVersion("", "1.0", function(tx) {
            tx.executeSql("CREATE TABLE RvpIp(field1 TEXT, field2 TEXT, field3 TEXT, field4 TEXT)");
            tx.executeSql("INSERT INTO RvpIp VALUES(?, ?, ?, ?)", ["172", "16", "0", "9"]);
        });
        db = History.open();
        compare(addresses(History.load(db, 5)), ["172.16.0.9"]);
        // Once carried over, the old table is not read again.
        History.store(db, "10.0.0.1");
        compare(addresses(History.load(History.open(), 5)), ["10.0.0.1", "172.16.0.9"]);
    }

    Component {
        id: sectionComponent
        Loader {
            width: 360
            height: 300
            source: "qrc:/sections/PXRvpIpSection.qml"
        }
    }

    function createSection()
    {
        var loader = createTemporaryObject(sectionComponent, testCase);
        verify(loader.item !== null);
        return loader.item;
    }

    // At most five are shown, all are kept, and the field holds the newest.
    function test_section_shows_five_and_fills_the_newest()
    {
        var db = History.open();
        for (var i = 1; i <= 7; ++i)
            History.store(db, "host" + i + ".local");
        var section = createSection();
        compare(section.historyModel.count, 5);
        compare(section.historyModel.get(0).address, "host7.local");
        compare(section.historyModel.get(4).address, "host3.local");
        compare(History.load(db, 0).length, 7);
        compare(section.text, "host7.local");
        verify(findChild(section, "clearHistory").visible);
    }

    function test_section_sends_the_normalised_address_and_stores_it()
    {
        var section = createSection();
        var go = findChild(section, "goButton");
        var finished = [];
        section.finished.connect(function(address) { finished.push(address); });
        // An address the button does not take is not sent either.
        section.text = "fe80::g";
        verify(!go.enabled);
        section.finish();
        section.text = "10.001.002.003";
        verify(section.addressValid && go.enabled);
        section.finish();
        // A host name goes unchanged; the return key finishes as the button does.
        section.text = "server.local";
        section.forceActiveFocus();
        keyClick(Qt.Key_Return);
        compare(guiManager.rvpAddresses, ["10.1.2.3", "server.local"]);
        compare(finished, ["10.1.2.3", "server.local"]);
        compare(addresses(History.load(History.open(), 5)), ["server.local", "10.1.2.3"]);
    }

    function test_section_works_without_a_database()
    {
        var open = Database.open;
        Database.open = function() { throw new Error("unable to open database file"); };
        try {
            var section = createSection();
            compare(section.historyModel.count, 0);
            verify(!findChild(section, "clearHistory").visible);
            section.text = "10.0.0.7";
            section.finish();
            compare(guiManager.rvpAddresses, ["10.0.0.7"]);
        } finally {
            Database.open = open;
        }
    }
}
