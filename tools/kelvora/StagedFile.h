// An output file that only appears under its real name once it is complete. The data goes to a
// hidden temporary file in the destination folder (so the final rename stays on one file system
// and is atomic); Commit renames it over the destination, and destroying an uncommitted
// StagedFile removes it. A failure part-way therefore never leaves a half-written file behind
// and never destroys an existing file of the same name.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace KelvoraCli
{

class StagedFile
{
public:
    // The destination name that means standard output.
    static constexpr const char* StandardStream = "-";

    // Files no staged file may replace, for the rest of the run: the command's inputs. A
    // destination that is one of them, or resolves to one through links, is refused.
    static void ProtectInputs(const std::vector<std::string>& inputs);
    static bool IsProtected(const std::filesystem::path& path);

    // Creates the temporary file. Throws ToolError naming the destination when its folder
    // cannot be written or the destination is a protected input.
    explicit StagedFile(std::filesystem::path destination);
    ~StagedFile();

    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Open descriptor of the temporary file, for writers that need one.
    int Descriptor() const { return descriptor; }
    const std::filesystem::path& Destination() const { return destination; }
    const std::filesystem::path& TemporaryPath() const { return temporary; }

    // Appends bytes; throws ToolError on a short write.
    void Write(std::string_view bytes);
    // Completes the temporary file and releases its descriptor (many staged files can then wait
    // for their Commit without running out of descriptors). Throws ToolError on failure.
    void Close();
    // Makes the file visible under its destination name, closing it first if needed. Throws
    // ToolError on failure, in which case the temporary file is removed and the destination left as
    // it was.
    void Commit();

private:
    void Discard() noexcept;
    void CopyToStandardOutput();

    std::filesystem::path destination;
    std::filesystem::path temporary;
    bool toStandardOutput;
    int descriptor = -1;
    bool committed = false;
};

} // namespace KelvoraCli
