import QtQuick 2.2
import QtQuick.Window 2.2
import StatusBar 0.1
import "../js/DeviceId.js" as DeviceId

// The window and its page stack. The native side finds the stack by its object name and calls
// into the page on top, which must therefore always be the stack's last child item: pages that
// leave the stack are unparented before they are destroyed.
Window {
    id: window
    visible: true
    width: 500
    height: 600
    title: "Roamnode"
    color: "white"

    StatusBar {
        color: "#00ADEE"
    }

    Item {
        id: pageStack
        objectName: "stack"
        anchors.fill: parent

        property var pageNames: []
        property var pages: []
        property bool previousPageEnabled: true
        property string deviceId: ""
        // The layout folder of the page on top, for whoever needs to know which one is shown.
        property string pageVariant: ""
        readonly property int depth: pageNames.length
        readonly property string currentPageName: depth > 0 ? pageNames[depth - 1] : ""

        function variant()
        {
            if (width < height)
                return height <= 800 ? "phone-portrait" : "tablet-portrait";
            return width <= 800 ? "phone-landscape" : "tablet-landscape";
        }

        function createPage(name)
        {
            var folder = variant();
            var url = Qt.resolvedUrl(folder + "/" + name + ".qml");
            var component = Qt.createComponent(url);
            if (component.status !== Component.Ready) {
                console.warn(component.errorString());
                return null;
            }
            var page = component.createObject(pageStack, { "width": width, "height": height });
            if (page) {
                pageVariant = folder;
                page.width = Qt.binding(function() { return pageStack.width; });
                page.height = Qt.binding(function() { return pageStack.height; });
            }
            return page;
        }

        function discard(page)
        {
            if (!page)
                return;
            page.visible = false;
            page.parent = null;
            page.destroy();
        }

        function showPage(name)
        {
            fade.complete();
            var page = createPage(name);
            if (!page)
                return;
            var previous = pages.length > 0 ? pages[pages.length - 1] : null;
            pageNames = pageNames.concat([name]);
            pages = pages.concat([page]);
            if (previous) {
                page.opacity = 0;
                fadeIn.target = page;
                fadeOut.target = previous;
                fade.start();
            }
            page.forceActiveFocus();
        }

        function previousPage()
        {
            if (pages.length < 2)
                return;
            fade.complete();
            var top = pages[pages.length - 1];
            pages = pages.slice(0, pages.length - 1);
            pageNames = pageNames.slice(0, pageNames.length - 1);
            discard(top);
            refresh();
        }

        // Rebuilds the top page from the file for the current size, so a rotated window gets
        // the layout of its new shape.
        function refresh()
        {
            if (pages.length === 0)
                return;
            fade.complete();
            var page = createPage(pageNames[pageNames.length - 1]);
            if (!page)
                return;
            var old = pages[pages.length - 1];
            var updated = pages.slice(0, pages.length - 1);
            pages = updated.concat([page]);
            discard(old);
            page.forceActiveFocus();
        }

        function enablePreviousPage(enabled)
        {
            previousPageEnabled = enabled;
        }

        function getDeviceId()
        {
            if (deviceId === "") {
                try {
                    deviceId = DeviceId.readOrCreate();
                } catch (error) {
                    // An unwritable data folder must not leave the heartbeat without an answer:
                    // this run then reports an identifier of its own.
                    console.warn("Cannot keep the device identifier: " + error);
                    deviceId = DeviceId.randomUuid();
                }
            }
            if (typeof guiManager !== "undefined")
                guiManager.onDeviceIdReady(deviceId);
        }

        // The first page waits for the window's size, so that it is built once, in the layout
        // the window opens with.
        function showFirstPage()
        {
            if (pages.length === 0 && width > 0 && height > 0)
                showPage("rvp");
        }

        onWidthChanged: {
            if (pages.length === 0)
                showFirstPage();
            else
                refreshTimer.restart();
        }
        onHeightChanged: showFirstPage()
        Component.onCompleted: showFirstPage()

        Timer {
            id: refreshTimer
            interval: 500
            onTriggered: pageStack.refresh()
        }

        ParallelAnimation {
            id: fade
            NumberAnimation { id: fadeIn; property: "opacity"; from: 0; to: 1; duration: 300 }
            NumberAnimation { id: fadeOut; property: "opacity"; from: 1; to: 0; duration: 300 }
            onStopped: {
                // The page below stays in the stack for the way back, fully opaque but hidden.
                if (fadeOut.target) {
                    fadeOut.target.visible = false;
                    fadeOut.target.opacity = 1;
                }
                if (fadeIn.target)
                    fadeIn.target.opacity = 1;
                fadeIn.target = null;
                fadeOut.target = null;
            }
        }
    }

    onClosing: {
        if (pageStack.depth > 1 && pageStack.previousPageEnabled) {
            pageStack.previousPage();
            close.accepted = false;
        }
    }
}
