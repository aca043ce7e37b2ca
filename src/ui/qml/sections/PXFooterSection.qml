import QtQuick 2.2

Rectangle {
    color: "white"

    Image {
        anchors.centerIn: parent
        height: parent.height * 0.7
        width: parent.width * 0.6
        source: "qrc:/images/pellix-footer.png"
        fillMode: Image.PreserveAspectFit
        sourceSize.height: Math.max(16, height * 2)
        smooth: true
    }
}
