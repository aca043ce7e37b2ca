import QtQuick 2.2

Item {
    Image {
        anchors.centerIn: parent
        width: parent.width * 0.8
        height: parent.height * 0.8
        source: "qrc:/images/px-about.png"
        fillMode: Image.PreserveAspectFit
        sourceSize.height: height * 2
        smooth: true
    }
}
