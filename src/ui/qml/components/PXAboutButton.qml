import QtQuick 2.2

// A square link button of the about page: a coloured icon, a title and, unless compact, a
// call to action in the accent colour.
Rectangle {
    id: button
    property string title: ""
    property string action: ""
    property color accent: "#00A650"
    property string icon: ""
    property string url: ""
    property bool compact: false

    color: "white"
    border.color: "#E9E9E9"
    border.width: 1
    radius: 4

    Column {
        anchors.centerIn: parent
        width: parent.width * 0.9
        spacing: button.height * 0.04

        Image {
            anchors.horizontalCenter: parent.horizontalCenter
            visible: !button.compact
            source: button.icon
            width: button.height * 0.28
            height: width
            sourceSize.width: width
            sourceSize.height: height
            fillMode: Image.PreserveAspectFit
        }

        PXText {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            textFormat: Text.StyledText
            text: button.title
            font.bold: true
            font.pointSize: 10
            color: "#4A4A4A"
            wrapMode: Text.WordWrap
        }

        PXText {
            width: parent.width
            visible: !button.compact
            horizontalAlignment: Text.AlignHCenter
            text: button.action
            font.pointSize: 9
            color: button.accent
            wrapMode: Text.WordWrap
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 3
        color: button.accent
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            if (typeof guiManager !== "undefined")
                guiManager.openUrl(button.url);
        }
    }
}
