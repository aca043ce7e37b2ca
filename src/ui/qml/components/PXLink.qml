import QtQuick 2.2

// A blue text link. Links that carry a web address hand it to the native side, which opens
// it with the desktop's default handler.
PXText {
    id: link
    property string url: ""
    property bool underlineOnHover: false
    signal clicked()

    color: "#00ADEE"
    font.underline: underlineOnHover && mouse.containsMouse

    MouseArea {
        id: mouse
        anchors.fill: parent
        anchors.margins: -6
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            if (link.url !== "" && typeof guiManager !== "undefined")
                guiManager.openUrl(link.url);
            link.clicked();
        }
    }
}
