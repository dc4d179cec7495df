#pragma once

// The facts of one run, read once at entry (wWinMain) and passed down as values: nothing below
// the application reads them from the process or the build again.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/player_texts.h"
#include "common/running_launcher.h"
#include "update/launcher_update.h"
#include "update/probation.h"
#include "update/update_source.h"

namespace zv {

struct RunFacts {
    // The launcher's file, its forwarded arguments as one text (the ones handed over by a
    // self-update, or its own), and its own version.
    RunningLauncher launcher;
    // How many arguments that text carries as the game will split it (an empty one travels as
    // nothing), for the log, which never writes them.
    std::size_t forwardedCount = 0;
    // The update server and the keys the build was configured with.
    UpdateSource source;
    // When the launcher that put this one in place started it on probation and watches it
    // (probation.h): what it handed over.
    std::optional<ProbationToken> probation;
    // What the player reads, in the first of Windows' preferred UI languages the launcher has.
    PlayerTexts texts;
    // Those preferred languages as Windows gave them, and why the texts are not in the chosen
    // language (empty when they are), for the log.
    std::vector<std::string> preferredLanguages;
    std::string textsProblem;
};

// The player's texts from the launcher's resources (Windows only): the first of the user's
// preferred UI languages that has a texts file, else English; the built-in English when the
// chosen file cannot be read.
void ReadPlayerTexts(RunFacts& facts);

// The facts of this process and build (Windows only). First of all it takes what a hand-over left in
// the environment (TakeHandedOver): a launcher restarted by an older launcher's self-update receives
// its arguments that way, and one started on probation its token, and the variables leave the
// environment before anything can start a program.
RunFacts ReadRunFacts();

}  // namespace zv
