import QtQuick 2.2
import "../components"

Item {
    PXText {
        anchors.fill: parent
        anchors.leftMargin: parent.width * 0.05
        anchors.rightMargin: parent.width * 0.05
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.WordWrap
        text: "Enter the Rallyhub's IP address to start"
        color: "white"
        font.pointSize: 14
    }
}
