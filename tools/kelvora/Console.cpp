#include "tools/kelvora/Console.h"

#include <cstdio>
#include <unistd.h>

namespace KelvoraCli
{

Console::Console() : interactive(isatty(fileno(stderr)) == 1) {}

void Console::Error(const std::string& message)
{
    EndProgress();
    std::fprintf(stderr, "kelvora: %s\n", message.c_str());
    std::fflush(stderr);
}

void Console::Warning(const std::string& message)
{
    if (!message.empty())
        Error("warning: " + message);
}

void Console::Progress(const std::string& message)
{
    if (!interactive)
        return;
    // \033[K clears the rest of a longer previous line.
    std::fprintf(stderr, "\r%s\033[K", message.c_str());
    std::fflush(stderr);
    lineOpen = true;
    lastPercent = -1;
}

void Console::Percent(const std::string& label, uint64_t done, uint64_t total)
{
    if (!interactive || total == 0)
        return;
    const int percent = static_cast<int>(done >= total ? 100 : done * 100 / total);
    if (percent == lastPercent)
        return;
    std::fprintf(stderr, "\r%s %3d%%\033[K", label.c_str(), percent);
    std::fflush(stderr);
    lineOpen = true;
    lastPercent = percent;
}

void Console::EndProgress()
{
    if (!lineOpen)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    lineOpen = false;
    lastPercent = -1;
}

std::string Counted(uint64_t count, const std::string& noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

} // namespace KelvoraCli
