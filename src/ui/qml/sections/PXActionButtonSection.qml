import QtQuick 2.2
import "../components"

// Register, unregister or abort. The native side sets the state; a click reports the state
// back and the native side ignores the greyed ones.
Item {
    id: section
    objectName: "actionButton"
    property int buttonState: 0
    readonly property var colours: ["#9B9B9B", "#00ADEE", "#ED1C24", "#9B9B9B", "#ED1C24"]
    readonly property var texts: ["Register", "Register", "Unregister", "Abort", "Abort"]

    function changeActionButtonState(value)
    {
        if (value >= 0 && value <= 4)
            buttonState = value;
    }

    Rectangle {
        id: button
        objectName: "button"
        anchors.centerIn: parent
        width: Math.min(300, parent.width * 0.8)
        height: Math.min(50, parent.height * 0.7)
        radius: 4
        color: section.colours[section.buttonState]

        PXText {
            anchors.centerIn: parent
            text: section.texts[section.buttonState]
            color: "white"
            font.bold: true
            font.pointSize: 15
            font.capitalization: Font.AllUppercase
        }

        MouseArea {
            anchors.fill: parent
            onClicked: {
                if (typeof guiManager !== "undefined")
                    guiManager.actionButtonClicked(section.buttonState);
            }
        }
    }
}
