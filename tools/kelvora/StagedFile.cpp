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

std::vector<std::filesystem::path> protectedInputs;

} // namespace

void StagedFile::ProtectInputs(const std::vector<std::string>& inputs)
{
    protectedInputs.assign(inputs.begin(), inputs.end());
}

bool StagedFile::IsProtected(const std::filesystem::path& path)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return false;
    for (const std::filesystem::path& input : protectedInputs)
        if (std::filesystem::equivalent(path, input, error) && !error)
            return true;
    return false;
}

StagedFile::StagedFile(std::filesystem::path destinationPath)
    : destination(std::move(destinationPath)), toStandardOutput(destination == StandardStream)
{
    // Standard output is written in one go from a staged copy, so the file format can still
    // seek back to fill in its header.
    const std::filesystem::path folder = toStandardOutput ? std::filesystem::temp_directory_path()
                                         : destination.has_parent_path()
                                             ? destination.parent_path()
                                             : std::filesystem::path(".");
    if (destination.filename().empty())
        throw ToolError::About(destination.string(), "not a file name");

    std::error_code error;
    if (!toStandardOutput && std::filesystem::is_directory(destination, error))
        throw ToolError::About(destination.string(), "cannot write: it is a folder");
    // Renaming over a link would spare the file it points to, but the user meant that file.
    if (!toStandardOutput && IsProtected(destination))
        throw ToolError::About(destination.string(),
                               "is one of the inputs; refusing to write over it");

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
    if (toStandardOutput)
    {
        CopyToStandardOutput();
        committed = true;
        ::unlink(temporary.c_str());
        temporary.clear();
        return;
    }
    if (std::rename(temporary.c_str(), destination.c_str()) != 0)
    {
        const int code = errno;
        Discard();
        throw ToolError::About(destination.string(), "cannot write: " + SystemError(code));
    }
    committed = true;
}

void StagedFile::CopyToStandardOutput()
{
    const int input = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<char> buffer(1 << 16);
    ssize_t got = input < 0 ? -1 : 0;
    while (input >= 0 && (got = ::read(input, buffer.data(), buffer.size())) > 0)
    {
        for (ssize_t done = 0; done < got;)
        {
            const ssize_t written =
                ::write(STDOUT_FILENO, buffer.data() + done, size_t(got - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
            {
                const int code = written < 0 ? errno : EIO;
                ::close(input);
                Discard();
                throw ToolError::About("standard output", "write failed: " + SystemError(code));
            }
            done += written;
        }
    }
    const int code = errno;
    if (input >= 0)
        ::close(input);
    if (got < 0)
    {
        Discard();
        throw ToolError::About("standard output", "write failed: " + SystemError(code));
    }
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
