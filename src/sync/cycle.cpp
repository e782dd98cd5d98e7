#include "sync/engine.h"

namespace tarvelo::sync {

void Syn_Cycle(SyncContext&) {}
void Check_ClosSyn(SyncContext&) {}
bool Clear_SynFirst(SyncContext&) { return false; }

}  // namespace tarvelo::sync
