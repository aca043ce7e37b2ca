import QtQml 2.2
import QtQuick.LocalStorage 2.0

// The persistent device identifier, shared by both front ends through the database
// "PXDatabase", table DeviceID. Holds no visual content: the console run has no window.
QtObject {
    id: root
    property string cachedUuid: ""

    function generateUuid() {
        return "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx".replace(/[xy]/g, function (c) {
            var r = Math.floor(Math.random() * 16);
            var v = c === "x" ? r : (r & 0x3) | 0x8;
            return v.toString(16);
        });
    }

    function getDeviceId() {
        if (cachedUuid === "") {
            var db = LocalStorage.openDatabaseSync("PXDatabase", "",
                                                   "SQL database for storing info on Pellix app",
                                                   10000);
            var uuid = "";
            db.transaction(function (tx) {
                tx.executeSql("CREATE TABLE IF NOT EXISTS DeviceID(uuid TEXT)");
                var rows = tx.executeSql("SELECT * FROM DeviceID");
                if (rows.rows.length > 0) {
                    uuid = rows.rows.item(0).uuid;
                } else {
                    uuid = generateUuid();
                    tx.executeSql("INSERT INTO DeviceID VALUES(?)", [uuid]);
                }
            });
            cachedUuid = uuid;
        }
        if (typeof guiManager !== "undefined" && guiManager !== null)
            guiManager.onDeviceIdReady(cachedUuid);
    }
}
