// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <set>
#include <string>

class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    // Every entry below the folder, hidden ones included, relative to it.
    std::set<std::string> Entries() const;

private:
    std::filesystem::path path;
};
