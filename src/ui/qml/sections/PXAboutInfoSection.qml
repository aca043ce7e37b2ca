import QtQuick 2.2
import "../components"

// Three link buttons fading in one after another, the version and the two text links.
Item {
    id: section
    objectName: "info"
    property bool compact: false
    property string version: "Checking..."
    property int shownButtons: 0

    function onVersion(text)
    {
        version = text;
    }

    readonly property var buttons: [
        { "title": "Getting<br>started?", "action": "See our intro", "accent": "#00A650",
          "icon": "qrc:/images/icon-equal.png", "url": "https://www.pellix.example/intro" },
        { "title": "Want a<br>demo?", "action": "Get in touch", "accent": "#ed1c24",
          "icon": "qrc:/images/icon-frenchquote.png", "url": "https://www.pellix.example/demo" },
        { "title": "Need<br>help?", "action": "Contact us", "accent": "#ec008c",
          "icon": "qrc:/images/icon-question.png", "url": "https://www.pellix.example/support" }
    ]

    Timer {
        interval: 500
        repeat: true
        running: section.shownButtons < 3
        triggeredOnStart: true
        onTriggered: section.shownButtons += 1
    }

    Row {
        id: buttonRow
        anchors.top: parent.top
        anchors.topMargin: parent.height * 0.04
        anchors.horizontalCenter: parent.horizontalCenter
        height: parent.height * 0.4
        spacing: parent.width * 0.025

        Repeater {
            model: section.buttons
            delegate: PXAboutButton {
                width: section.width * 0.3
                height: buttonRow.height
                title: modelData.title
                action: modelData.action
                accent: modelData.accent
                icon: modelData.icon
                url: modelData.url
                compact: section.compact
                opacity: index < section.shownButtons ? 1 : 0
                Behavior on opacity {
                    NumberAnimation { duration: 1000 }
                }
            }
        }
    }

    Column {
        anchors.top: buttonRow.bottom
        anchors.topMargin: parent.height * 0.06
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: parent.height * 0.03

        PXText {
            objectName: "versionText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Version " + section.version
            color: "#4A4A4A"
            font.pointSize: 12
        }

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            PXText {
                text: "View the "
                color: "#4A4A4A"
                font.pointSize: 12
            }
            PXLink {
                text: "changelog"
                font.pointSize: 12
                underlineOnHover: true
                url: "https://www.pellix.example/roamnode/changelog"
            }
        }

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            PXText {
                text: "Please read our "
                color: "#4A4A4A"
                font.pointSize: 12
            }
            PXLink {
                text: "privacy policy"
                font.pointSize: 12
                underlineOnHover: true
                url: "https://www.pellix.example/privacy"
            }
        }
    }

    Component.onCompleted: {
        if (typeof guiManager !== "undefined")
            guiManager.getVersionInfo();
    }
}
