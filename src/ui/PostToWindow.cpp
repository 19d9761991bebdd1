#include "ui/PostToWindow.h"

namespace quillon {

std::mutex &postLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace quillon
