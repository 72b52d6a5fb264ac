#include "UmockdevRun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "TempDir.h"

extern char** environ;

namespace {

std::string withOption(const char* current, const std::string& option)
{
    std::string value = current != nullptr ? current : "";
    if (value.find(option) != std::string::npos)
        return value;
    return value.empty() ? option : value + ":" + option;
}

} // namespace

EmulatedRun RunUnderUmockdev(const std::string& root, const std::string& executable,
                             const std::vector<std::string>& args, const std::string& workDir, int timeoutSeconds)
{
    TempDir capture(false);
    std::string outPath = capture.file("stdout");
    std::string errPath = capture.file("stderr");

    // Everything the child needs is prepared before fork: the parent has
    // threads (umockdev's worker), so the child only redirects and execs.
    std::vector<std::string> argvText;
    argvText.push_back(executable);
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : argvText)
        argv.push_back(&text[0]);
    argv.push_back(nullptr);

    std::vector<std::string> envText;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string variable = *entry;
        if (variable.rfind("LD_PRELOAD=", 0) == 0 || variable.rfind("ASAN_OPTIONS=", 0) == 0 ||
            variable.rfind("UMOCKDEV_DIR=", 0) == 0)
            continue;
        envText.push_back(variable);
    }
    envText.push_back("UMOCKDEV_DIR=" + root);
    std::string preload = "libumockdev-preload.so.0";
    if (const char* current = std::getenv("LD_PRELOAD"))
        preload += std::string(":") + current;
    envText.push_back("LD_PRELOAD=" + preload);
    // A sanitizer build refuses to run when another library is preloaded
    // before its runtime unless told otherwise.
    envText.push_back("ASAN_OPTIONS=" + withOption(std::getenv("ASAN_OPTIONS"), "verify_asan_link_order=0"));
    std::vector<char*> envp;
    for (std::string& text : envText)
        envp.push_back(&text[0]);
    envp.push_back(nullptr);

    int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    capture.write("stdin", "");
    int nullFd = ::open(capture.file("stdin").c_str(), O_RDONLY | O_CLOEXEC);
    if (outFd < 0 || errFd < 0 || nullFd < 0)
        throw std::runtime_error("cannot prepare the output files of the run");

    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(workDir.c_str()) != 0)
            _exit(126);
        dup2(nullFd, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ::close(outFd);
    ::close(errFd);
    ::close(nullFd);
    if (pid < 0)
        throw std::runtime_error("fork failed");

    EmulatedRun result;
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (true) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            throw std::runtime_error("waitpid failed");
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exitStatus = 128 + WTERMSIG(status);

    result.out = readWholeFile(outPath);
    result.err = readWholeFile(errPath);
    return result;
}
