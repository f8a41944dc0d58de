// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <string>

class TempFolder
{
public:
    TempFolder()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvora-tool-test-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        path = pattern;
    }
    ~TempFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }

    // Every entry below the folder, hidden ones included, relative to it.
    std::set<std::string> Entries() const
    {
        std::set<std::string> entries;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
            entries.insert(std::filesystem::relative(entry.path(), path).string());
        return entries;
    }

    // The whole content of a file in the folder; empty when it cannot be read.
    std::string Text(const std::string& name) const
    {
        std::stringstream text;
        text << std::ifstream(path / name, std::ios::binary).rdbuf();
        return text.str();
    }

private:
    std::filesystem::path path;
};
