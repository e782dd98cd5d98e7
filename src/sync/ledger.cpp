#include "sync/engine.h"

namespace tarvelo::sync {

bool UpDate_Atten(SyncContext&)
{
    return true;
}

}  // namespace tarvelo::sync
