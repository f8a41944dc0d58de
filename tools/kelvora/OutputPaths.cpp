#include "tools/kelvora/OutputPaths.h"

#include "tools/kelvora/ToolError.h"

namespace KelvoraCli
{

OutputPaths::OutputPaths(std::filesystem::path requestedPath, bool several, std::string nameSuffix,
                         std::string nameExtension)
    : requested(std::move(requestedPath)), severalInputs(several), suffix(std::move(nameSuffix)),
      extension(std::move(nameExtension))
{
}

std::filesystem::path OutputPaths::For(const std::string& inputFile)
{
    const std::string stem =
        inputFile == "-" ? std::string("stdin") : std::filesystem::path(inputFile).stem().string();
    std::error_code error;
    std::filesystem::path path;
    if (std::filesystem::is_directory(requested, error))
        path = requested / (stem + suffix + extension);
    else if (severalInputs && requested.extension().empty())
        // Meant as a folder, surely: a file name without extension says nothing of the format.
        throw ToolError::About(requested.string(), "no such folder");
    else if (severalInputs)
        path = requested.parent_path() /
               (requested.stem().string() + "-" + stem + requested.extension().string());
    else
        path = requested;

    const std::string key = path.lexically_normal().string();
    if (!handedOut.insert(key).second)
        throw ToolError::About(inputFile, "output " + path.string() +
                                              " is already written for an earlier "
                                              "input of the same name");
    return path;
}

} // namespace KelvoraCli
