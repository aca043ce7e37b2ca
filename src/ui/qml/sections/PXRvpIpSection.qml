import QtQuick 2.2
import "../components"
import "../js/RvpAddress.js" as RvpAddress
import "../js/History.js" as History

// The address field with its go button and the history of addresses entered before.
FocusScope {
    id: section
    property alias text: field.text
    readonly property bool addressValid: RvpAddress.isValid(field.text)
    readonly property int maximumShown: 5
    property alias historyModel: history
    signal finished(string address)

    // The history is a convenience: when the database cannot be used, the field still works.
    function withHistory(action)
    {
        try {
            return action(History.open());
        } catch (error) {
            console.warn("Address history unavailable: " + error);
            return undefined;
        }
    }

    function reloadHistory()
    {
        var entries = withHistory(function(db) { return History.load(db, maximumShown); }) || [];
        history.clear();
        for (var i = 0; i < entries.length; ++i)
            history.append(entries[i]);
        if (entries.length > 0)
            field.text = entries[0].address;
    }

    function finish()
    {
        if (!addressValid)
            return;
        Qt.inputMethod.hide();
        var address = RvpAddress.normalise(field.text);
        if (typeof guiManager !== "undefined")
            guiManager.rvpIpAddressSet(address);
        withHistory(function(db) { History.store(db, address); });
        finished(address);
    }

    ListModel {
        id: history
    }

    Item {
        id: inputRow
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        height: parent.height * 0.2

        PXRvpTextField {
            id: field
            objectName: "rvpTextField"
            anchors.left: parent.left
            anchors.right: goButton.left
            anchors.rightMargin: 10
            height: parent.height
            focus: true
            onAccepted: section.finish()
        }

        PXRvpButton {
            id: goButton
            objectName: "goButton"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            height: parent.height * 0.7
            enabled: section.addressValid
            onClicked: section.finish()
        }
    }

    Column {
        anchors.top: inputRow.bottom
        anchors.topMargin: 12
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 4

        Repeater {
            model: history
            delegate: PXRvpIpPreviousEntry {
                width: parent.width
                address: model.address
                onPicked: field.text = address
                onRemoved: {
                    var rowId = model.rowId;
                    section.withHistory(function(db) { History.remove(db, rowId); });
                    section.reloadHistory();
                }
            }
        }

        PXText {
            objectName: "clearHistory"
            visible: history.count > 0
            text: "clear history"
            color: "white"
            font.pointSize: 12

            MouseArea {
                anchors.fill: parent
                anchors.margins: -4
                onClicked: {
                    section.withHistory(function(db) { History.clear(db); });
                    section.reloadHistory();
                }
            }
        }
    }

    Component.onCompleted: reloadHistory()
}
