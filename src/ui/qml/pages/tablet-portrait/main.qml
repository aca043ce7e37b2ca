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
        height: parent.height * 0.05
        onBackClicked: pageStack.previousPage()
        onInfoClicked: pageStack.showPage("about")
    }

    Item {
        anchors.top: toolbar.bottom
        anchors.bottom: footer.top
        width: parent.width

        PXAppStateSection {
            id: appState
            anchors.top: parent.top
            width: parent.width
            height: parent.height * 0.12
        }

        PXSpeedSection {
            id: speed
            anchors.top: appState.bottom
            width: parent.width
            height: parent.height * 0.40
        }

        PXDataSection {
            anchors.top: speed.bottom
            anchors.bottom: actionButton.top
            width: parent.width
            expandable: false
            expanded: true
        }

        PXActionButtonSection {
            id: actionButton
            anchors.bottom: parent.bottom
            width: parent.width
            height: parent.height * 0.15
        }
    }

    PXFooterSection {
        id: footer
        anchors.bottom: parent.bottom
        width: parent.width
        height: parent.height * 0.02
    }

    Component.onCompleted: {
        if (typeof guiManager !== "undefined")
            guiManager.mainViewCompleted();
    }
}
