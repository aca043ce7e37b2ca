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

    // Built with "..." and asking for the values; the interfaces listed by display name, then
    // their addresses.
    function test_data_section()
    {
        var data = load("PXDataSection.qml");
        compare(data.rvpAddress, "...");
        tryCompare(guiManager, "refreshCount", 1, 2000);
        data.changeDeviceInterfaces('[{"type": "ethernet","name": "eth0","displayname": "",'
                                    + '"ipv4": ["10.0.0.5"],"ipv6": ["fe80::1/64"]},'
                                    + '{"name": "wlan0","displayname": "Wi-Fi","ipv4": [],'
                                    + '"ipv6": ["fe80::2/64", "2001:db8::2/64"]}]');
        var model = findChild(data, "interfaceList").model;
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
        compare(findChild(info, "versionText").text, "Version Checking...");
        compare(guiManager.versionRequests, 1);
        info.onVersion("2.12.3.0");
        compare(findChild(info, "versionText").text, "Version 2.12.3.0");
    }

    // The first speed fills the ring; later ones are shown against the largest so far, which
    // transmit shares, and the arc follows.
    function test_speed_ring_against_the_largest_speed()
    {
        var section = load("PXSpeedSection.qml");
        section.setRxMeterSpeed(3);
        compare(section.rxPercent, 100);
        section.setRxMeterSpeed(100);
        section.setRxMeterSpeed(50);
        compare(section.rxPercent, 50);
        tryCompare(findChild(section, "rxGauge"), "shownValue", 50, 2000);
        section.setTxMeterSpeed(25);
        compare(section.txPercent, 25);
        compare(findChild(section, "rxText").text, "50.0");
        compare(findChild(section, "txText").text, "25.0");
        section.resetMeterSpeed();
        compare(findChild(section, "txText").text, "0.0");
        section.setRxMeterSpeed(10);
        compare(section.rxPercent, 100);
    }
}
