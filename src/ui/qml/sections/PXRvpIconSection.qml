import QtQuick 2.2

Item {
    Image {
        anchors.centerIn: parent
        width: parent.width * 0.8
        height: parent.height * 0.7
        source: "qrc:/images/px-logo.png"
        fillMode: Image.PreserveAspectFit
        sourceSize.height: height
        smooth: true
    }
}
