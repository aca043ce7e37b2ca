import QtQuick 2.2

// "<" at the left of the toolbar; goes to the previous page.
Item {
    id: button
    signal clicked()
    width: height

    PXText {
        anchors.centerIn: parent
        text: "<"
        color: "white"
        font.pixelSize: Math.max(10, button.height * 0.55)
    }

    MouseArea {
        anchors.fill: parent
        onClicked: button.clicked()
    }
}
