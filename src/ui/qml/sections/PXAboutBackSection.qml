import QtQuick 2.2
import "../components"

Item {
    id: section
    signal backClicked()

    Rectangle {
        anchors.centerIn: parent
        width: Math.min(300, parent.width * 0.8)
        height: Math.min(50, parent.height * 0.6)
        radius: 4
        color: "#F7941D"

        PXText {
            anchors.centerIn: parent
            text: "BACK"
            color: "white"
            font.bold: true
            font.pointSize: 15
        }

        MouseArea {
            anchors.fill: parent
            onClicked: section.backClicked()
        }
    }
}
