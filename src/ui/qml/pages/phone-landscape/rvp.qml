import QtQuick 2.2
import "../../components"
import "../../sections"

// Created by the page stack, whose id pageStack is visible here through the creation context.
// A focus scope, so that the stack giving the page the focus hands it on to the address field.
FocusScope {
    id: page

    Rectangle {
        anchors.fill: parent
        color: "#00ADEE"
    }

    Item {
        id: topStrip
        anchors.top: parent.top
        width: parent.width
        height: parent.height * 0.08

        PXInfoButton {
            objectName: "infoButton"
            anchors.right: parent.right
            anchors.rightMargin: parent.width * 0.02
            height: parent.height
            onClicked: pageStack.showPage("about")
        }
    }

    PXRvpIconSection {
        id: icon
        anchors.top: topStrip.bottom
        width: parent.width
        height: parent.height * 0.40
    }

    PXRvpTextSection {
        id: prompt
        anchors.top: icon.bottom
        width: parent.width
        height: parent.height * 0.10
    }

    PXRvpIpSection {
        id: address
        objectName: "rvpIp"
        anchors.top: prompt.bottom
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: parent.width * 0.05
        anchors.rightMargin: parent.width * 0.05
        focus: true
        onFinished: pageStack.showPage("main")
    }

}
