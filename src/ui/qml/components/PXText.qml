import QtQuick 2.2

// Every text of the window asks for the family compiled into the resources. The size is set
// where it is used, in points or pixels (both at once would make Qt warn).
Text {
    font.family: "Open Sans"
    color: "black"
}
