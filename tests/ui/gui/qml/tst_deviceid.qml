import QtQuick 2.2
import QtTest 1.1
import "qrc:/js/DeviceId.js" as DeviceId
import "qrc:/js/Database.js" as Database

TestCase {
    id: testCase
    name: "DeviceId"

    readonly property var uuidForm: /^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$/

    // A database file per test, so that each starts without an identifier.
    function init()
    {
        Database.name = "PXDatabaseDeviceTest" + Date.now() + Math.floor(Math.random() * 1e6);
        guiManager.clear();
    }

    function cleanupTestCase()
    {
        Database.name = "PXDatabase";
    }

    function test_random_uuid_form()
    {
        for (var i = 0; i < 200; ++i)
            verify(uuidForm.test(DeviceId.randomUuid()), "form of a version-4 UUID");
        verify(DeviceId.randomUuid() !== DeviceId.randomUuid());
    }

    function test_existing_row_is_used()
    {
        Database.open().transaction(function(tx) {
            tx.executeSql("CREATE TABLE DeviceID(uuid TEXT)");
            tx.executeSql("INSERT INTO DeviceID VALUES(?)", ["0f0f0f0f-0000-4000-8000-000000000001"]);
        });
        compare(DeviceId.readOrCreate(), "0f0f0f0f-0000-4000-8000-000000000001");
    }

    // The identifier is kept, and the console front end's component reports the same device as
    // the window.
    function test_console_component_shares_the_identifier()
    {
        // The component opens the program's own database by name.
        Database.name = "PXDatabase";
        var ours = DeviceId.readOrCreate();
        verify(uuidForm.test(ours));
        compare(DeviceId.readOrCreate(), ours);
        var component = Qt.createComponent("qrc:/components/PXUUID.qml");
        compare(component.status, Component.Ready, component.errorString());
        var uuid = component.createObject(testCase);
        uuid.getDeviceId();
        compare(guiManager.deviceIds, [ours]);
        uuid.destroy();
    }
}
