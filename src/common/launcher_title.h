#pragma once

#include <string_view>

namespace zv {

// The launcher's name as its windows and message boxes show it in their title bars. The text is a
// C string too: it ends where the literal does.
inline constexpr std::wstring_view kLauncherTitle = L"Zarnovelle Launcher";

}  // namespace zv
