import QtQuick 2.2
import QtTest 1.1
import "qrc:/js/DeviceId.js" as DeviceId

TestCase {
    id: testCase
    name: "DeviceId"

    readonly property var uuidForm: /^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$/

    function test_random_uuid_form()
    {
        for (var i = 0; i < 200; ++i)
            verify(uuidForm.test(DeviceId.randomUuid()), "form of a version-4 UUID");
        verify(DeviceId.randomUuid() !== DeviceId.randomUuid());
    }

    // The identifier is kept, and the console front end's component, which opens the program's
    // database by its name, reports the same device as the window.
    function test_console_component_shares_the_identifier()
    {
        guiManager.clear();
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
