#include "tools/kelvora/FileBatch.h"

#include "tools/kelvora/Console.h"
#include "tools/kelvora/ToolError.h"

#include <new>

namespace KelvoraCli
{

FileBatch::FileBatch(Console& out, std::string verbText) : console(out), verb(std::move(verbText))
{
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
        const std::string& file = files[i];
        std::string message;
        if (files.size() > 1)
            console.Progress("[" + std::to_string(i + 1) + "/" + std::to_string(files.size()) +
                             "] " + verb + " " + file);
        else
            console.Progress(verb + " " + file);
        try
        {
            work(file);
            console.EndProgress();
            continue;
        }
        catch (const ToolError& error)
        {
            message = error.what();
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
