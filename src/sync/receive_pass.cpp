#include "sync/engine.h"

namespace tarvelo::sync {

qint32 Rece_Reco(SyncContext&, const QString&) { return 0; }

}  // namespace tarvelo::sync
