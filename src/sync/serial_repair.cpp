#include "sync/engine.h"

namespace tarvelo::sync {

qint16 Seri_Restore_Loc(SyncContext&, const QString&)
{
    return 1;
}

qint16 Seri_Restore_Ser(SyncContext&, const QString&)
{
    return 1;
}

}  // namespace tarvelo::sync
