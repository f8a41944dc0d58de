#include "TempFolder.h"

#include <stdexcept>
#include <stdlib.h>

TempFolder::TempFolder()
{
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kelvora-tool-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

std::set<std::string> TempFolder::Entries() const
{
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
        entries.insert(std::filesystem::relative(entry.path(), path).string());
    return entries;
}
