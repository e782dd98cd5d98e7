#include "sync/engine.h"

namespace tarvelo::sync {

bool Check_Dele_Other(SyncContext&, const QString&, const QString&)
{
    return true;
}

}  // namespace tarvelo::sync
