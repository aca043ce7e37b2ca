#pragma once

namespace roamnode {

// The windowed start: GUI application, QML window, application object, event loop.
// Returns the process exit status.
int startGraphical(int argc, char** argv);

} // namespace roamnode
