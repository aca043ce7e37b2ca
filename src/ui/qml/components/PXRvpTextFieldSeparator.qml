import QtQuick 2.2

Rectangle {
    height: 1
    color: "white"
}
