// What the main thread gets when there is no UI thread (it could not be started): no windows and
// a refusal, at once, instead of a wait for an answer that cannot come. CreateThread cannot be
// made to fail under Wine, so this test simply never starts the thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "ui/ui.h"

namespace {

TEST(WithoutUiThread, SplashCallsDoNothingAndConsentIsRefused) {
    zv::LauncherWindows windows;
    windows.ShowSplash();
    windows.HideSplash();
    windows.CloseSplash();
    EXPECT_EQ(::FindWindowW(L"Zarnovelle", nullptr), nullptr);

    auto answer = std::async(std::launch::async, [&] { return windows.AskForConsent(); });
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "AskForConsent waited";
    EXPECT_FALSE(answer.get());
}

}  // namespace
