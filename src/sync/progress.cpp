#include "sync/engine.h"

namespace tarvelo::sync {

void Reset_Progress(SyncContext&) {}
void Show_Progress(SyncContext&, qint16) {}

}  // namespace tarvelo::sync
