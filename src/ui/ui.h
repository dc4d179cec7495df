#pragma once

#include "ui/progress_pacing.h"

namespace zv {

// All of the launcher's windows live on one UI thread, so that the main thread may block in
// transfers and process starts while the splash keeps painting. Every function here is called
// from the main thread.

// Starts the UI thread and returns once the splash is on screen, or once it is known that there
// is none ("zarnovelle.bmp" missing from the current directory). When the thread cannot be
// started the run goes on without any window: the splash calls do nothing and AskForConsent
// refuses.
void StartUiThread();

// Show and hide the splash; nothing happens when there is none.
void ShowSplash();
void HideSplash();

// Removes the splash for good before a failure box: on return it is no longer on screen and has
// been destroyed by the UI thread that owns it. Later calls do nothing.
void CloseSplash();

// The bar along the splash's bottom edge that shows a download: created by the first update, taken
// away by RemoveSplashProgress, and gone with the splash in any case. Both only post to the UI
// thread and never wait for it; nothing happens when there is no splash. Without the common
// controls (comctl32 from the system) there is no bar and nothing else changes.
void ShowSplashProgress(const BarUpdate& update);
void RemoveSplashProgress();

// Opens the agreement window on the UI thread and waits for the answer: true for "I Accept",
// false for "Cancel", the close box or Alt+F4. Also false at once when there is no UI thread to
// ask, so the run ends as a refusal instead of waiting for an answer that cannot come.
bool AskForConsent();

}  // namespace zv
