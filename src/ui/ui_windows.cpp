// Placeholder until the UI thread, the splash and the consent window are built: no windows, and
// the agreement counts as refused, so a run never passes the agreement without an answer.
#include "ui/ui.h"

namespace zv {

void StartUiThread() {}
void ShowSplash() {}
void HideSplash() {}
void CloseSplash() {}
bool AskForConsent() { return false; }

}  // namespace zv
