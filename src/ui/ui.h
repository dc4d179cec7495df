#pragma once

namespace zv {

// Starts the UI thread and returns once the splash exists or is known to be absent.
void StartUiThread();
void ShowSplash();
void HideSplash();
void CloseSplash();

// Opens the agreement window on the UI thread and waits for the answer: true for "I Accept".
bool AskForConsent();

}  // namespace zv
