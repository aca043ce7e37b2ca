import QtQuick 2.2
import "../../components"
import "../../sections"

// Created by the page stack, whose id pageStack is visible here through the creation context.
Rectangle {
    id: page
    color: "white"

    PXToolbarSection {
        id: toolbar
        anchors.top: parent.top
        width: parent.width
        height: parent.height * 0.10
        onBackClicked: pageStack.previousPage()
        onInfoClicked: pageStack.showPage("about")
    }

    PXAppStateSection {
        id: appState
        anchors.top: toolbar.bottom
        width: parent.width
        height: parent.height * 0.20
    }

    PXSpeedSection {
        anchors.top: appState.bottom
        anchors.bottom: footer.top
        anchors.left: parent.left
        width: parent.width / 2
    }

    Item {
        id: rightHalf
        anchors.top: appState.bottom
        anchors.bottom: footer.top
        anchors.right: parent.right
        width: parent.width / 2

        PXDataSection {
            anchors.top: parent.top
            anchors.bottom: actionButton.top
            width: parent.width
            expandable: false
            expanded: false
        }

        PXActionButtonSection {
            id: actionButton
            anchors.bottom: parent.bottom
            width: parent.width
            height: parent.height * 0.40
        }
    }

    PXFooterSection {
        id: footer
        anchors.bottom: parent.bottom
        width: parent.width
        height: parent.height * 0.04
    }

    Component.onCompleted: {
        if (typeof guiManager !== "undefined")
            guiManager.mainViewCompleted();
    }
}
