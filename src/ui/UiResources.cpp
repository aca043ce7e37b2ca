#include "ui/UiResources.h"

#include <QtGlobal>

static void initQmlResource()
{
    Q_INIT_RESOURCE(qml);
}

namespace roamnode {

void initUiResources()
{
    initQmlResource();
}

} // namespace roamnode
