import QtQuick 2.2

// "i" in a white circle; opens the about page.
Item {
    id: button
    signal clicked()
    width: height

    Rectangle {
        anchors.centerIn: parent
        width: Math.min(parent.width, parent.height) * 0.6
        height: width
        radius: width / 2
        color: "transparent"
        border.color: "white"
        border.width: Math.max(1, width / 14)

        PXText {
            anchors.centerIn: parent
            text: "i"
            color: "white"
            font.bold: true
            font.pixelSize: Math.max(8, parent.height * 0.6)
        }
    }

    MouseArea {
        anchors.fill: parent
        onClicked: button.clicked()
    }
}
