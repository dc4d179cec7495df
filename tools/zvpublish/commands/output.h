#pragma once

// How zvpublish answers: results on standard output, errors and warnings on standard error, each
// text from outside escaped for the terminal, and its exit codes.

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>

#include "zvpublish/tree/outcome.h"

namespace zv::publish {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // refused, failed, or problems found; the reason is on err
inline constexpr int kExitUsage = 2;    // the command line itself is wrong

class Output {
public:
    Output(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    std::ostream& out() { return out_; }

    // A wrong command line, and where its help is: the command's own once it is known.
    int Usage(const std::string& message, std::string_view command = {});
    int Fail(const Failure& failure);
    // Paths and texts may carry what came from outside (arguments, file names, manifest members):
    // each message is escaped whole, so that nothing in it can act on a terminal or break a line.
    void Error(const std::wstring& path, const std::string& text);
    void Warning(const std::wstring& path, const std::string& text);

private:
    std::ostream& out_;
    std::ostream& err_;
};

// A path for standard output, escaped.
std::string Shown(const std::wstring& path);

// Joins pieces of a message. (Chains of operator+ on temporaries trip a false -Wrestrict warning
// of GCC 12 in the cross build.)
std::string Concat(std::initializer_list<std::string_view> pieces);

}  // namespace zv::publish
