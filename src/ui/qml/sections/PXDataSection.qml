import QtQuick 2.2
import "../components"

// Labels and values of the device and its connection. The native side fills the values after
// requestDataRefresh; "view" swaps the rows for the list of network interfaces.
Rectangle {
    id: section
    objectName: "data"
    property bool expandable: true
    property bool expanded: false
    property bool showingInterfaces: false
    property bool refreshShown: true
    signal expandRequested()
    signal collapseRequested()

    property string rvpAddress: "..."
    property string deviceName: "..."
    property string deviceType: "..."
    property string deviceOs: "..."
    property string connectionType: "..."

    color: "white"
    clip: true

    function changeRvpIpAddress(text) { rvpAddress = text; }
    function changeDeviceName(text) { deviceName = text; }
    function changeDeviceType(text) { deviceType = text; }
    function changeDeviceOs(text) { deviceOs = text; }
    function changeConnectionType(text) { connectionType = text; }

    // The interface list is written by hand on the native side and is not escaped, so an odd
    // SSID or name can make it invalid JSON: keep the list shown so far in that case.
    function changeDeviceInterfaces(json)
    {
        var list;
        try {
            list = JSON.parse(json);
        } catch (error) {
            console.warn("Unreadable interface list: " + error);
            return;
        }
        if (!Array.isArray(list))
            return;
        interfaces.clear();
        for (var i = 0; i < list.length; ++i) {
            var record = list[i] || {};
            var name = record.displayname ? record.displayname : (record.name || "");
            interfaces.append({ "line": String(name), "heading": true });
            var families = ["ipv4", "ipv6"];
            for (var f = 0; f < families.length; ++f) {
                var addresses = record[families[f]];
                if (!Array.isArray(addresses))
                    continue;
                for (var a = 0; a < addresses.length; ++a)
                    interfaces.append({ "line": String(addresses[a]), "heading": false });
            }
        }
    }

    function refresh()
    {
        refreshShown = false;
        rvpAddress = deviceName = deviceType = deviceOs = connectionType = "...";
        refreshTimer.restart();
    }

    ListModel {
        id: interfaces
        objectName: "interfaces"
    }

    Timer {
        id: refreshTimer
        interval: 300
        onTriggered: {
            section.refreshShown = true;
            if (typeof guiManager !== "undefined")
                guiManager.requestDataRefresh();
        }
    }

    readonly property real margin: Math.max(8, width * 0.05)

    PXLink {
        id: moreLink
        objectName: "moreLink"
        anchors.top: parent.top
        anchors.topMargin: section.margin / 2
        anchors.right: parent.right
        anchors.rightMargin: section.margin
        z: 1
        visible: section.expandable && !section.showingInterfaces
        text: section.expanded ? "less" : "more"
        font.pointSize: 12
        onClicked: section.expanded ? section.collapseRequested() : section.expandRequested()
    }

    Flickable {
        id: rows
        visible: !section.showingInterfaces
        // The first label sits on the left of the "more" link's line.
        anchors.top: parent.top
        anchors.topMargin: section.margin / 2
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: refreshLink.top
        anchors.leftMargin: section.margin
        anchors.rightMargin: section.margin
        contentHeight: rowColumn.height
        clip: true

        Column {
            id: rowColumn
            width: parent.width
            spacing: 2

            Repeater {
                model: [
                    { "label": "Connected to", "key": "rvpAddress", "always": true },
                    { "label": "Your device", "key": "deviceName", "always": true },
                    { "label": "Your network interfaces", "key": "", "always": false },
                    { "label": "Your device type", "key": "deviceType", "always": false },
                    { "label": "Your OS", "key": "deviceOs", "always": false },
                    { "label": "Connection type", "key": "connectionType", "always": false }
                ]
                delegate: Column {
                    width: rowColumn.width
                    visible: modelData.always || section.expanded

                    PXText {
                        text: modelData.label
                        font.pointSize: 12
                    }
                    PXText {
                        visible: modelData.key !== ""
                        width: parent.width
                        horizontalAlignment: Text.AlignRight
                        elide: Text.ElideLeft
                        text: modelData.key !== "" ? section[modelData.key] : ""
                        font.pointSize: 12
                    }
                    PXLink {
                        visible: modelData.key === ""
                        anchors.right: parent.right
                        objectName: "viewLink"
                        text: "view"
                        font.pointSize: 12
                        onClicked: section.showingInterfaces = true
                    }
                    PXSeparator {
                        width: parent.width
                    }
                }
            }
        }
    }

    Item {
        id: interfaceView
        visible: section.showingInterfaces
        anchors.fill: parent
        anchors.margins: section.margin / 2

        PXText {
            id: interfaceTitle
            anchors.left: parent.left
            anchors.top: parent.top
            text: "Network interfaces"
            font.bold: true
            font.pointSize: 14
        }

        PXLink {
            anchors.right: parent.right
            anchors.verticalCenter: interfaceTitle.verticalCenter
            objectName: "closeLink"
            text: "close"
            font.pointSize: 12
            onClicked: section.showingInterfaces = false
        }

        ListView {
            objectName: "interfaceList"
            anchors.top: interfaceTitle.bottom
            anchors.topMargin: 4
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            clip: true
            model: interfaces
            delegate: PXText {
                width: ListView.view.width
                text: model.line
                font.bold: model.heading
                font.pointSize: 12
                elide: Text.ElideRight
            }
        }
    }

    PXLink {
        id: refreshLink
        objectName: "refreshLink"
        anchors.bottom: parent.bottom
        anchors.bottomMargin: section.margin / 3
        anchors.horizontalCenter: parent.horizontalCenter
        visible: section.refreshShown && !section.showingInterfaces
        text: "refresh"
        font.pointSize: 12
        onClicked: section.refresh()
    }

    Component.onCompleted: refresh()
}
