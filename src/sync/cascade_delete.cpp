#include "sync/engine.h"

namespace tarvelo::sync {

bool Delete_Reco_Loc(SyncContext&, const QString&, const QString&)
{
    return true;
}

bool Delete_Reco_Ser(SyncContext&, const QString&, const QString&)
{
    return true;
}

}  // namespace tarvelo::sync
