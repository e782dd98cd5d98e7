#include "sync/engine.h"

namespace tarvelo::sync {

void Read_Branch_Set(SyncContext&) {}

}  // namespace tarvelo::sync
