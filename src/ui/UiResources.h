#pragma once

namespace roamnode {

// The QML resources live in a static library; the linker keeps them only when this is called.
void initUiResources();

} // namespace roamnode
