#pragma once

// A launcher that has just put a new release of itself in place starts it on probation and
// watches it, with its own file kept beside it as "<name>.previous":
//  - The new launcher confirms its start once its own launcher-manifest check has been judged
//    (current, an update, or a failure it reports in its box): a launcher that can check for its
//    own updates can fetch its own fix. It then waits for the old launcher to end and removes
//    the previous file.
//  - A new launcher that ends before it confirms (it crashed, Windows could not load it, it
//    exited early), or has not confirmed within kProbationLimit of its start while showing no
//    window, is rolled back: the previous file is put back by rename, the release is remembered
//    for this Windows user and never downloaded again, and the old launcher goes on with the run.
//
// The watching launcher tells the new one that it is on probation through the environment
// variable kProbationVariable, which the new launcher takes out of its environment first thing
// (TakeProbation), so that nothing it starts inherits it.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

inline constexpr wchar_t kProbationVariable[] = L"ZV_REPLACEMENT_PROBATION";

// How long a new launcher that shows no window may take to confirm its start.
inline constexpr std::chrono::seconds kProbationLimit{120};

// What a launcher on probation is handed: the values of two handles it inherits (the event it
// sets to confirm its start, and the watching launcher's process, whose end it waits for before
// it removes the previous file), and the error mode to go back to once it has confirmed (the
// watcher starts it with the system's error boxes turned off, so that a crash ends it at once).
struct ProbationToken {
    std::uint64_t confirmEvent = 0;
    std::uint64_t watcherProcess = 0;
    std::uint32_t errorMode = 0;

    friend bool operator==(const ProbationToken&, const ProbationToken&) = default;
};

// The variable's text: three lower-case hexadecimal numbers separated by single blanks.
std::wstring FormatProbationToken(const ProbationToken& token);
// Reads that text back; nothing for any other (too long, other characters, a zero handle).
std::optional<ProbationToken> ParseProbationToken(std::wstring_view text);

// What the watching launcher sees of the new one at a moment.
struct ProbationState {
    bool confirmed = false;  // it has set the event
    bool ended = false;      // its process has ended
    std::chrono::milliseconds sinceStart{0};
    bool showsWindow = false;  // one of its top-level windows is visible
};

enum class ProbationVerdict {
    Watch,      // go on watching
    Confirmed,  // it confirmed (it may have ended since: a confirmed start counts)
    Ended,      // it ended without confirming
    TimedOut,   // kProbationLimit has passed, it has not confirmed and shows no window
};

ProbationVerdict JudgeProbation(const ProbationState& state);

}  // namespace zv
