#pragma once

#include <memory>

#include "common/player_texts.h"
#include "ui/progress_pacing.h"

namespace zv {

// All of the launcher's windows, on a UI thread of their own, so that the main thread may block in
// transfers and process starts while the splash keeps painting. Every member is called from the
// main thread. The launcher makes one for its run; one may follow another in the same process.
// The windows are per-monitor DPI aware: their sizes, margins and fonts follow the scale of the
// display they are on. Their texts are the player's (texts); without an agreement among them
// there is nothing to accept, and AskForConsent refuses.
class LauncherWindows {
public:
    explicit LauncherWindows(PlayerTexts texts = PlayerTexts());
    // Ends the UI thread if it was started: its windows are destroyed on that thread, and the
    // destructor returns once the thread has ended.
    ~LauncherWindows();
    LauncherWindows(const LauncherWindows&) = delete;
    LauncherWindows& operator=(const LauncherWindows&) = delete;

    // Starts the UI thread and returns once the splash is on screen, or once it is known that
    // there is none ("zarnovelle.bmp" missing from the current directory). When the thread cannot
    // be started the run goes on without any window: the splash calls do nothing and
    // AskForConsent refuses.
    void StartUiThread();

    // Show and hide the splash; nothing happens when there is none.
    void ShowSplash();
    void HideSplash();

    // Removes the splash for good before a failure box: on return it is no longer on screen and
    // has been destroyed by the UI thread that owns it. Later calls do nothing.
    void CloseSplash();

    // The bar along the splash's bottom edge that shows a download: created by the first update,
    // taken away by RemoveSplashProgress, and gone with the splash in any case. Both only post to
    // the UI thread and never wait for it; nothing happens when there is no splash. Without the
    // common controls (comctl32 from the system) there is no bar and nothing else changes.
    void ShowSplashProgress(const BarUpdate& update);
    void RemoveSplashProgress();

    // Opens the agreement window on the UI thread and waits for the answer: true for "I Accept",
    // false for "Cancel", Esc, the close box or Alt+F4. The window works by keyboard as a dialog
    // does (Tab and Shift+Tab, Enter on the focused button, access keys), opening with the focus
    // on the agreement. Also false at once when there is no UI thread to ask, or no agreement to
    // show, so the run ends as a refusal instead of waiting for an answer that cannot come.
    bool AskForConsent();

private:
    // What the UI thread and the main thread share; windows.h stays in ui_windows.cpp.
    class State;
    std::unique_ptr<State> state_;
};

}  // namespace zv
