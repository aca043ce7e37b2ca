import QtQuick 2.2
import QtTest 1.1

TestCase {
    id: testCase
    name: "Sections"
    width: 500
    height: 600
    when: windowShown
    visible: true

    Component {
        id: loaderComponent
        Loader {
            width: 400
            height: 300
        }
    }

    function load(file)
    {
        var loader = createTemporaryObject(loaderComponent, testCase,
                                           { "source": "qrc:/sections/" + file });
        verify(loader.item !== null, file);
        return loader.item;
    }

    function init()
    {
        guiManager.clear();
    }

    function test_action_button_reports_its_state()
    {
        var section = load("PXActionButtonSection.qml");
        compare(section.objectName, "actionButton");
        var button = findChild(section, "button");
        section.changeActionButtonState(2);
        compare(button.color, "#ed1c24");
        mouseClick(button);
        section.changeActionButtonState(0);
        compare(button.color, "#9b9b9b");
        mouseClick(button);
        section.changeActionButtonState(1);
        compare(button.color, "#00adee");
        compare(guiManager.actionStates, [2, 0]);
    }

    function test_data_section_refreshes_when_built()
    {
        var data = load("PXDataSection.qml");
        compare(data.objectName, "data");
        compare(data.rvpAddress, "...");
        tryCompare(guiManager, "refreshCount", 1, 2000);
        data.changeRvpIpAddress("10.1.2.3");
        data.changeDeviceName("laptop");
        compare(data.rvpAddress, "10.1.2.3");
        compare(data.deviceName, "laptop");
    }

    function test_interfaces_listed_by_display_name_then_addresses()
    {
        var data = load("PXDataSection.qml");
        data.changeDeviceInterfaces('[{"type": "ethernet","name": "eth0","displayname": "",'
                                    + '"ipv4": ["10.0.0.5"],"ipv6": ["fe80::1/64"]},'
                                    + '{"name": "wlan0","displayname": "Wi-Fi","ipv4": [],'
                                    + '"ipv6": ["fe80::2/64", "2001:db8::2/64"]}]');
        var list = findChild(data, "interfaceList");
        var model = list.model;
        compare(model.count, 6);
        var lines = [];
        for (var i = 0; i < model.count; ++i)
            lines.push((model.get(i).heading ? "*" : "") + model.get(i).line);
        compare(lines, ["*eth0", "10.0.0.5", "fe80::1/64", "*Wi-Fi", "fe80::2/64", "2001:db8::2/64"]);

        // A list that is not JSON (an unescaped SSID, say) keeps what was shown.
        data.changeDeviceInterfaces('[{"name": "wl"an0"}]');
        compare(model.count, 6);
        data.changeDeviceInterfaces("[]");
        compare(model.count, 0);
    }

    function test_about_info_shows_version()
    {
        var info = load("PXAboutInfoSection.qml");
        compare(info.objectName, "info");
        compare(findChild(info, "versionText").text, "Version Checking...");
        compare(guiManager.versionRequests, 1);
        info.onVersion("2.12.3.0");
        compare(findChild(info, "versionText").text, "Version 2.12.3.0");
    }

    function test_toolbar_back_button()
    {
        var toolbar = load("PXToolbarSection.qml");
        compare(toolbar.objectName, "toolbar");
        var back = findChild(toolbar, "backButton");
        verify(back.visible);
        toolbar.enableBackButton(false);
        verify(!back.visible);
    }
}
