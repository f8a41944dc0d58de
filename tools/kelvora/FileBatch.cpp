#include "tools/kelvora/FileBatch.h"

#include "tools/kelvora/Console.h"
#include "tools/kelvora/Interruption.h"
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
        if (Interruption::Requested())
        {
            console.EndProgress();
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
