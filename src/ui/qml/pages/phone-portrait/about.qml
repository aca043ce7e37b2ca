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
        showInfoButton: false
        onBackClicked: pageStack.previousPage()
    }

    PXAboutLogoSection {
        id: logo
        anchors.top: toolbar.bottom
        width: parent.width
        height: parent.height * 0.20
    }

    PXAboutInfoSection {
        id: info
        anchors.top: logo.bottom
        width: parent.width
        height: parent.height * 0.60
    }

    PXSeparator {
        id: separator
        anchors.top: info.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width * 0.9
    }

    PXAboutBackSection {
        anchors.top: separator.bottom
        anchors.bottom: footer.top
        width: parent.width
        onBackClicked: pageStack.previousPage()
    }

    PXFooterSection {
        id: footer
        anchors.bottom: parent.bottom
        width: parent.width
        height: parent.height * 0.02
    }
}
