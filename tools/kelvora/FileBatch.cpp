#include "tools/kelvora/FileBatch.h"

#include "tools/kelvora/AudioFile.h"
#include "tools/kelvora/Console.h"
#include "tools/kelvora/Interruption.h"
#include "tools/kelvora/ToolError.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <new>

namespace KelvoraCli
{

FileBatch::FileBatch(Console& out, std::string verbText) : console(out), verb(std::move(verbText))
{
}

std::vector<std::string> FileBatch::Expand(const std::vector<std::string>& inputs)
{
    constexpr std::array<const char*, 9> AudioExtensions{".wav", ".aif", ".aiff", ".flac", ".ogg",
                                                         ".oga", ".w64", ".rf64", ".caf"};
    std::vector<std::string> files;
    for (const std::string& input : inputs)
    {
        std::error_code error;
        if (input == "-" || !std::filesystem::is_directory(input, error))
        {
            files.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(input, error))
        {
            std::string extension = entry.path().extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            const bool audio = std::find(AudioExtensions.begin(), AudioExtensions.end(),
                                         extension) != AudioExtensions.end();
            if (audio && entry.is_regular_file(error) &&
                entry.path().filename().string().front() != '.')
                found.push_back(entry.path().string());
        }
        std::sort(found.begin(), found.end());
        // An empty folder stays in the list and is reported as such when it is read.
        if (found.empty())
            found.push_back(input);
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

AudioFile FileBatch::Load(const std::string& file)
{
    AudioFile audio = AudioFile::Read(file);
    console.Warning(audio.Warning());
    return audio;
}

void FileBatch::Warn(const std::string& file, const std::vector<std::string>& warnings)
{
    for (const std::string& warning : warnings)
        console.Warning(file + ": " + warning);
}

void FileBatch::OnFailure(std::function<void(const std::string&, const std::string&)> callback)
{
    failureCallback = std::move(callback);
}

int FileBatch::Run(const std::vector<std::string>& files,
                   const std::function<void(const std::string& file)>& work)
{
    int failures = 0;
    for (size_t i = 0; i < files.size(); ++i)
    {
        if (Interruption::Requested())
        {
            console.EndProgress();
            if (!Interruption::OutputClosed())
                console.Error("interrupted");
            return Interruption::ExitStatus();
        }
        const std::string& file = files[i];
        std::string message;
        std::string status;
        if (files.size() > 1)
            status.append("[")
                .append(std::to_string(i + 1))
                .append("/")
                .append(std::to_string(files.size()))
                .append("] ");
        console.Progress(status.append(verb).append(" ").append(file));
        try
        {
            work(file);
            console.EndProgress();
            continue;
        }
        catch (const ToolError& error)
        {
            message = error.what();
            if (Interruption::Requested())
            {
                if (!Interruption::OutputClosed())
                    console.Error(file + ": interrupted; its output was not written");
                return Interruption::ExitStatus();
            }
        }
        catch (const std::bad_alloc&)
        {
            message = file + ": not enough memory";
        }
        catch (const std::exception& error)
        {
            message = file + ": " + error.what();
        }
        ++failures;
        console.Error(message);
        if (failureCallback)
            failureCallback(file, message);
    }
    console.EndProgress();
    return failures ? 1 : 0;
}

} // namespace KelvoraCli
