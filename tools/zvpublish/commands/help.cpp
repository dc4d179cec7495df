#include "zvpublish/commands/help.h"

#include <cstddef>
#include <string>

#include "common/version.h"
#include "update/launcher_version.h"

namespace zv::publish {

namespace {

constexpr std::string_view kOverview = R"(Usage: zvpublish COMMAND [ARGUMENTS]

Publishes game builds and launcher releases for the Zarnovelle launcher into a static
folder tree that any HTTPS server or CDN can serve.

Commands:
)";

constexpr std::string_view kOverviewFooter = R"(
zvpublish help COMMAND (or zvpublish COMMAND --help) shows what a command does and
its options. zvpublish --version shows this tool's version.
)";

// After the options of a command that takes some.
constexpr std::string_view kOptionForm = "\nOptions also take the form --name=VALUE.\n";

// The end of every help text.
constexpr std::string_view kExitCodes = R"(
Text read from a tree or a file is printed with control characters escaped (\xNN,
\u{NNNN}).

Exit status: 0 done, 1 refused or failed (the reason is on standard error),
2 wrong usage.
)";

}  // namespace

void PrintCommandHelp(std::ostream& out, const Command& command) {
    constexpr std::size_t kTextColumn = 28;
    const std::vector<Option>& options = command.syntax.options;
    out << "Usage: zvpublish " << command.name << " " << command.usage << "\n\n" << command.help;
    if (!options.empty()) {
        out << "\nOptions:\n";
    }
    for (const Option& option : options) {
        // Appended piece by piece: operator+ on temporaries trips a false -Wrestrict warning of GCC 12
        // in the cross build.
        std::string spelling = "  ";
        spelling += option.name;
        if (!option.value.empty()) {
            spelling += ' ';
            spelling += option.value;
        }
        out << spelling;
        if (spelling.size() + 2 > kTextColumn) {
            out << "\n" << std::string(kTextColumn, ' ');
        } else {
            out << std::string(kTextColumn - spelling.size(), ' ');
        }
        for (const char c : option.text) {
            out << c;
            if (c == '\n') {
                out << std::string(kTextColumn, ' ');
            }
        }
        out << "\n";
    }
    if (!options.empty()) {
        out << kOptionForm;
    }
    out << kExitCodes;
}

void PrintOverview(std::ostream& out, std::span<const Command> commands) {
    out << kOverview;
    for (const Command& command : commands) {
        out << "  " << command.name << std::string(10 - command.name.size(), ' ') << command.summary << "\n";
    }
    out << kOverviewFooter << kOptionForm << kExitCodes;
}

void PrintVersion(std::ostream& out) {
    out << "zvpublish " << FormatVersion(kLauncherVersion) << "\nwrites signed manifests of form 2\n";
}

}  // namespace zv::publish
