// Where the tool talks to people: results go to stdout, errors and progress to stderr. Progress
// is only shown when stderr is a terminal, so scripts and logs get clean output.
#pragma once

#include <cstdint>
#include <string>

namespace KelvoraCli
{

class Console
{
public:
    Console();

    // "kelvora: <message>" on stderr, ending any progress line first.
    void Error(const std::string& message);
    // "kelvora: warning: <message>" on stderr; nothing for an empty message.
    void Warning(const std::string& message);
    // A transient status line; overwritten by the next one.
    void Progress(const std::string& message);
    // A percentage appended to a status line; cheap to call often, prints only on change.
    void Percent(const std::string& label, uint64_t done, uint64_t total);
    // Clears any status line.
    void EndProgress();

    bool ShowsProgress() const { return interactive; }

private:
    bool interactive;
    bool lineOpen = false;
    int lastPercent = -1;
};

// "1 frame", "2 frames": a count with its noun, singular or plural as it needs.
std::string Counted(uint64_t count, const std::string& noun);

} // namespace KelvoraCli
