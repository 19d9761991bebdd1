#include "ui/Resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace quillon {

void initResources()
{
    static const bool done = (initAppResources(), true);
    (void)done;
}

} // namespace quillon
