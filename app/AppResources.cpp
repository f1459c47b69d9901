#include "app/AppResources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE names a function in the global namespace.
static void InitResourcesOnce()
{
    Q_INIT_RESOURCE(resources);
}

namespace tessaroo::app
{
void InitResources()
{
    static const bool bDone = (InitResourcesOnce(), true);
    (void)bDone;
}
} // namespace tessaroo::app
