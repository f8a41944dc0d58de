#include "ToolProcess.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

std::string ReadAndRemove(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    ::unlink(path.c_str());
    return text.str();
}

std::string CaptureFile()
{
    std::string name = (std::filesystem::temp_directory_path() / "kelvora-capture-XXXXXX").string();
    const int fd = mkstemp(name.data());
    if (fd >= 0)
        ::close(fd);
    return name;
}

} // namespace

ProcessResult ToolProcess::Run(const std::string& program, const std::vector<std::string>& args,
                               const std::filesystem::path& workingFolder, long fileSizeLimit)
{
    const std::string outPath = CaptureFile();
    const std::string errPath = CaptureFile();
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0)
    {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_TRUNC);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_TRUNC);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        if (!workingFolder.empty() && chdir(workingFolder.c_str()) != 0)
            _exit(126);
        if (fileSizeLimit > 0)
        {
            // Without ignoring SIGXFSZ the first write past the limit would kill the process
            // instead of failing.
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(fileSizeLimit),
                               static_cast<rlim_t>(fileSizeLimit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(126);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    ProcessResult result;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.out = ReadAndRemove(outPath);
    result.err = ReadAndRemove(errPath);
    return result;
}

ProcessResult ToolProcess::Kelvora(const std::vector<std::string>& args,
                                   const std::filesystem::path& workingFolder, long fileSizeLimit)
{
    return Run(KELVORA_TOOL, args, workingFolder, fileSizeLimit);
}

ProcessResult ToolProcess::Python(const std::string& script, const std::vector<std::string>& args)
{
    std::vector<std::string> all{std::string(KELVORA_TEST_SCRIPTS) + "/" + script};
    all.insert(all.end(), args.begin(), args.end());
    return Run(KELVORA_TEST_PYTHON, all);
}
