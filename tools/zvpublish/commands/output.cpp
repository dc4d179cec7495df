#include "zvpublish/commands/output.h"

#include "common/text.h"
#include "zvpublish/commands/terminal_text.h"

namespace zv::publish {

int Output::Usage(const std::string& message, std::string_view command) {
    err_ << "zvpublish: " << EscapeForTerminal(message) << "\nTry 'zvpublish "
         << (command.empty() ? std::string("--help") : "help " + std::string(command)) << "'.\n";
    return kExitUsage;
}

int Output::Fail(const Failure& failure) {
    Error(failure.path, failure.reason);
    return kExitFailure;
}

void Output::Error(const std::wstring& path, const std::string& text) {
    err_ << "zvpublish: " << EscapeForTerminal((path.empty() ? "" : ToUtf8(path) + ": ") + text) << "\n";
}

void Output::Warning(const std::wstring& path, const std::string& text) {
    err_ << "zvpublish: warning: " << EscapeForTerminal(ToUtf8(path) + ": " + text) << "\n";
}

std::string Shown(const std::wstring& path) { return EscapeForTerminal(ToUtf8(path)); }

std::string Concat(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (const std::string_view piece : pieces) {
        text += piece;
    }
    return text;
}

}  // namespace zv::publish
