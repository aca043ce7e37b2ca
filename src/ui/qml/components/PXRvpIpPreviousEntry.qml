import QtQuick 2.2

// One history line: a round delete button and the address, cut off at the right.
Item {
    id: entry
    property string address: ""
    signal picked(string address)
    signal removed()

    height: label.implicitHeight + 6

    Rectangle {
        id: deleteButton
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        width: entry.height - 4
        height: width
        radius: width / 2
        color: "transparent"
        border.color: "white"
        border.width: 1

        PXText {
            anchors.centerIn: parent
            text: "\u00D7"
            color: "white"
            font.pixelSize: Math.max(8, deleteButton.height * 0.7)
        }

        MouseArea {
            anchors.fill: parent
            onClicked: entry.removed()
        }
    }

    PXText {
        id: label
        anchors.left: deleteButton.right
        anchors.leftMargin: 8
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        text: entry.address
        color: "white"
        font.pointSize: 14
        elide: Text.ElideRight

        MouseArea {
            anchors.fill: parent
            onClicked: entry.picked(entry.address)
        }
    }
}
