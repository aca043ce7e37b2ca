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
        height: parent.height * 0.08
        onBackClicked: pageStack.previousPage()
        onInfoClicked: pageStack.showPage("about")
    }

    Item {
        id: content
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
            height: parent.height * 0.45
        }

        PXDataSection {
            id: data
            readonly property real collapsedY: speed.y + speed.height
            readonly property real expandedY: appState.y + appState.height
            y: collapsedY
            width: parent.width
            height: actionButton.y - y
            expandable: true
            onExpandRequested: expand.restart()
            onCollapseRequested: collapse.restart()
        }

        PXActionButtonSection {
            id: actionButton
            anchors.bottom: parent.bottom
            width: parent.width
            height: parent.height * 0.21
        }
    }

    PXFooterSection {
        id: footer
        anchors.bottom: parent.bottom
        width: parent.width
        height: parent.height * 0.02
    }

    SequentialAnimation {
        id: expand
        ScriptAction { script: { collapse.stop(); data.expanded = true; } }
        NumberAnimation { target: speed; property: "opacity"; to: 0; duration: 300 }
        PauseAnimation { duration: 100 }
        NumberAnimation { target: data; property: "y"; to: data.expandedY; duration: 300 }
    }

    SequentialAnimation {
        id: collapse
        ScriptAction { script: expand.stop() }
        NumberAnimation { target: data; property: "y"; to: data.collapsedY; duration: 300 }
        ScriptAction { script: data.expanded = false }
        PauseAnimation { duration: 200 }
        NumberAnimation { target: speed; property: "opacity"; to: 1; duration: 300 }
        ScriptAction { script: data.y = Qt.binding(function() { return data.collapsedY; }) }
    }

    Component.onCompleted: {
        if (typeof guiManager !== "undefined")
            guiManager.mainViewCompleted();
    }
}
