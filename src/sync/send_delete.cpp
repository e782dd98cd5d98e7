#include "sync/engine.h"

namespace tarvelo::sync {

qint32 Send_Delete(SyncContext&, const QString&)
{
    return 0;
}

}  // namespace tarvelo::sync
