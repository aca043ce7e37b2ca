import QtQuick 2.2

// The address input: centred white text on the blue page above a thin white line.
FocusScope {
    id: field
    property alias text: input.text
    signal accepted()

    TextInput {
        id: input
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        focus: true
        horizontalAlignment: TextInput.AlignHCenter
        color: "white"
        selectionColor: "#7CD6F9"
        selectedTextColor: "white"
        font.family: "Open Sans"
        font.pointSize: 20
        clip: true
        inputMethodHints: Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText | Qt.ImhUrlCharactersOnly
        onAccepted: field.accepted()
    }

    PXRvpTextFieldSeparator {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
    }
}
