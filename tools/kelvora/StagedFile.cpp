#include "tools/kelvora/StagedFile.h"

#include "tools/kelvora/ToolError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace KelvoraCli
{

namespace
{

std::string SystemError(int code)
{
    return std::strerror(code);
}

// mkstemp creates files readable by the owner only; a finished output should get the same
// permissions as any file the user creates.
mode_t DefaultFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

} // namespace

StagedFile::StagedFile(std::filesystem::path destinationPath)
    : destination(std::move(destinationPath))
{
    const std::filesystem::path folder =
        destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
    if (destination.filename().empty())
        throw ToolError::About(destination.string(), "not a file name");

    std::error_code error;
    if (std::filesystem::is_directory(destination, error))
        throw ToolError::About(destination.string(), "cannot write: it is a folder");

    // Hidden, and named after the destination, so a leftover from a crash is recognisable.
    std::string hiddenName = ".";
    hiddenName.append(destination.filename().string()).append(".part-XXXXXX");
    const std::string pattern = (folder / hiddenName).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    descriptor = mkstemp(name.data());
    if (descriptor < 0)
    {
        const int code = errno;
        throw ToolError::About(destination.string(), "cannot write to folder '" + folder.string() +
                                                         "': " + SystemError(code));
    }
    temporary = std::filesystem::path(name.data());
}

StagedFile::~StagedFile()
{
    Discard();
}

void StagedFile::Write(std::string_view bytes)
{
    while (!bytes.empty())
    {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
        {
            const int code = written < 0 ? errno : EIO;
            throw ToolError::About(destination.string(), "write failed: " + SystemError(code));
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

void StagedFile::Close()
{
    if (descriptor < 0)
        return;
    if (fchmod(descriptor, DefaultFileMode()) != 0 || ::close(descriptor) != 0)
    {
        const int code = errno;
        descriptor = -1;
        Discard();
        throw ToolError::About(destination.string(), "write failed: " + SystemError(code));
    }
    descriptor = -1;
}

void StagedFile::Commit()
{
    if (committed || temporary.empty())
        throw ToolError::About(destination.string(), "output already finished");
    Close();
    if (std::rename(temporary.c_str(), destination.c_str()) != 0)
    {
        const int code = errno;
        Discard();
        throw ToolError::About(destination.string(), "cannot write: " + SystemError(code));
    }
    committed = true;
}

void StagedFile::Discard() noexcept
{
    if (descriptor >= 0)
    {
        ::close(descriptor);
        descriptor = -1;
    }
    if (!committed && !temporary.empty())
    {
        ::unlink(temporary.c_str());
        temporary.clear();
    }
}

} // namespace KelvoraCli
