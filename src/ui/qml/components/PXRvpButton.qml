import QtQuick 2.2

// The round "go" button beside the address field.
Item {
    id: button
    property bool enabledLook: enabled
    signal clicked()
    width: height

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: "transparent"
        border.width: Math.max(1, width / 20)
        border.color: button.enabled ? "white" : "#7CD6F9"

        PXText {
            anchors.centerIn: parent
            text: "\u2192"
            color: button.enabled ? "white" : "#7CD6F9"
            font.pixelSize: Math.max(8, button.height * 0.5)
        }
    }

    MouseArea {
        anchors.fill: parent
        enabled: button.enabled
        onClicked: button.clicked()
    }
}
