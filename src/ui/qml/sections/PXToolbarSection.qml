import QtQuick 2.2
import "../components"

// The blue bar at the top of the main and about pages.
Rectangle {
    id: toolbar
    objectName: "toolbar"
    property bool showInfoButton: true
    property bool backButtonEnabled: true
    signal backClicked()
    signal infoClicked()

    color: "#00ADEE"

    // Called by the native side: leaving the main page is allowed only while no RVP is wanted.
    function enableBackButton(enabled)
    {
        backButtonEnabled = enabled;
    }

    Image {
        anchors.centerIn: parent
        height: parent.height * 0.6
        width: parent.width * 0.5
        source: "qrc:/images/px-logo.png"
        fillMode: Image.PreserveAspectFit
        sourceSize.height: height * 2
        smooth: true
    }

    PXBackButton {
        id: backButton
        objectName: "backButton"
        anchors.left: parent.left
        anchors.leftMargin: parent.width * 0.02
        height: parent.height
        visible: toolbar.backButtonEnabled
        onClicked: toolbar.backClicked()
    }

    PXInfoButton {
        objectName: "infoButton"
        anchors.right: parent.right
        anchors.rightMargin: parent.width * 0.02
        height: parent.height
        visible: toolbar.showInfoButton
        onClicked: toolbar.infoClicked()
    }
}
