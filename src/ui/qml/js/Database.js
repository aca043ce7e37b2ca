.pragma library
.import QtQuick.LocalStorage 2.0 as Sql

// The one local database of the program. The console front end opens the same file for the
// device identifier, so the name, the description and the size must not change. It is always
// opened with the empty version, which matches whatever version the file has.
var name = "PXDatabase";
var description = "SQL database for storing info on Pellix app";
var estimatedSize = 10000;

function open()
{
    return Sql.LocalStorage.openDatabaseSync(name, "", description, estimatedSize);
}
