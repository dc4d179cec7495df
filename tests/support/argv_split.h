#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zv::test {

// Splits a whole command line (program name first) by the documented rules of the platform's
// CommandLineToArgvW: the program name ends at the next quote or blank without escape handling;
// after it, 2n backslashes before a quote give n backslashes and toggle quoting, 2n+1 give n
// backslashes and a literal quote, other backslashes are literal, and blanks or tabs outside
// quotes separate arguments. A build without Windows checks the quoting rule against this.
std::vector<std::wstring> SplitCommandLine(std::wstring_view line);

}  // namespace zv::test
