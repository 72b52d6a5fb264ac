#include "IsolatedLauncher.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "TempDir.h"

extern char** environ;

namespace {

// What the child reports through the status pipe when it stops before the
// program runs: the step and its errno.
struct ChildFailure {
    int step;
    int error;
};

enum Step {
    kUnshare,
    kMakePrivate,
    kKeepPts,
    kMountDev,
    kDevNode,
    kDevLink,
    kDevShm,
    kDevPts,
    kMountSys,
    kMountTmp,
    kMakeTarget,
    kBind,
    kReadOnly,
    kBefore,
    kChangeDirectory,
    kRedirect,
    kExec,
};

const char* const kStepNames[] = {
    "unshare(CLONE_NEWNS)",
    "making / private",
    "keeping /dev/pts aside",
    "mounting a tmpfs on /dev",
    "creating a node in the private /dev",
    "creating a link in the private /dev",
    "mounting /dev/shm",
    "putting /dev/pts back",
    "mounting a tmpfs on /sys",
    "mounting a tmpfs on /tmp",
    "creating a folder for a bind",
    "binding a folder of the caller",
    "making /dev or /sys read-only",
    "running the script before the program",
    "changing to the working directory",
    "redirecting the standard streams",
    "exec",
};

// The character devices a program may use whatever the machine: none of
// them reaches hardware.
struct HarmlessNode {
    const char* path;
    unsigned int major;
    unsigned int minor;
};
const HarmlessNode kNodes[] = {
    {"/dev/null", 1, 3},   {"/dev/zero", 1, 5},    {"/dev/full", 1, 7},
    {"/dev/random", 1, 8}, {"/dev/urandom", 1, 9},
};
const char* const kLinks[][2] = {
    {"/proc/self/fd", "/dev/fd"},
    {"/proc/self/fd/0", "/dev/stdin"},
    {"/proc/self/fd/1", "/dev/stdout"},
    {"/proc/self/fd/2", "/dev/stderr"},
};

[[noreturn]] void childFails(int statusPipe, Step step)
{
    ChildFailure failure = {step, errno};
    ssize_t written = ::write(statusPipe, &failure, sizeof(failure));
    (void)written;
    _exit(127);
}

// What the child needs, prepared before fork. `ptsAside` is an empty
// folder the machine's /dev/pts is moved through while /dev is replaced.
struct ChildPlan {
    const char* ptsAside;
    const char* workDir;
    int in, out, err;
    char* const* argv;
    char* const* envp;
    bool writableDev;
    bool privateTmp;
    const char* const* folders;   // to create before the binds, in order; null-terminated
    const char* const* bindFrom;  // null-terminated
    const char* const* bindTo;
    int* sourceFds;               // room for one descriptor per bind
    char (*sourcePaths)[32];      // room for "/proc/self/fd/<n>" per bind
    char* const* beforeArgv;      // "/bin/sh -c <script>", or null
    char* const* afterArgv;
    char* const* scriptEnvp;
    int nullIn;                   // the scripts' standard input
    int afterOut;                 // where `after` prints
};

// Runs a script of the request in the child and waits for it: its wait
// status, or -1 when it could not be started. System calls only.
int runScript(char* const* argv, const ChildPlan& plan, int out)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (dup2(plan.nullIn, 0) < 0 || dup2(out, 1) < 0 || dup2(plan.err, 2) < 0)
            _exit(127);
        execve(argv[0], argv, plan.scriptEnvp);
        _exit(127);
    }
    if (pid < 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

[[noreturn]] void execProgram(int statusPipe, const ChildPlan& plan)
{
    if (plan.workDir[0] != '\0' && chdir(plan.workDir) != 0)
        childFails(statusPipe, kChangeDirectory);
    if (dup2(plan.in, 0) < 0 || dup2(plan.out, 1) < 0 || dup2(plan.err, 2) < 0)
        childFails(statusPipe, kRedirect);
    execve(plan.argv[0], plan.argv, plan.envp);
    childFails(statusPipe, kExec);
}

// "/proc/self/fd/<fd>" into `out` without allocating.
void descriptorPath(int fd, char (&out)[32])
{
    static const char prefix[] = "/proc/self/fd/";
    char digits[12];
    int count = 0;
    do
        digits[count++] = static_cast<char>('0' + fd % 10);
    while ((fd /= 10) > 0 && count < 11);
    size_t at = 0;
    for (; prefix[at] != '\0'; ++at)
        out[at] = prefix[at];
    while (count > 0)
        out[at++] = digits[--count];
    out[at] = '\0';
}

// Runs in the forked child of a process that may have threads: system
// calls only, no allocation.
[[noreturn]] void isolateAndExec(int statusPipe, const ChildPlan& plan)
{
    const char* ptsAside = plan.ptsAside;
    if (unshare(CLONE_NEWNS) != 0)
        childFails(statusPipe, kUnshare);
    // Nothing mounted below may reach the caller's namespace.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        childFails(statusPipe, kMakePrivate);
    if (mount("/dev/pts", ptsAside, nullptr, MS_BIND | MS_REC, nullptr) != 0)
        childFails(statusPipe, kKeepPts);

    if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755,size=1m") != 0)
        childFails(statusPipe, kMountDev);
    for (const HarmlessNode& node : kNodes)
        if (mknod(node.path, S_IFCHR | 0666, makedev(node.major, node.minor)) != 0 || chmod(node.path, 0666) != 0)
            childFails(statusPipe, kDevNode);
    for (const auto& link : kLinks)
        if (symlink(link[0], link[1]) != 0)
            childFails(statusPipe, kDevLink);
    if (mkdir("/dev/shm", 01777) != 0 ||
        mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
        childFails(statusPipe, kDevShm);
    if (mkdir("/dev/pts", 0755) != 0 || mount(ptsAside, "/dev/pts", nullptr, MS_MOVE, nullptr) != 0)
        childFails(statusPipe, kDevPts);
    // The folders to bind are opened before a private /tmp can hide them,
    // here in the child's namespace (a bind takes its source from there).
    for (size_t i = 0; plan.bindFrom[i] != nullptr; ++i) {
        plan.sourceFds[i] = open(plan.bindFrom[i], O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (plan.sourceFds[i] < 0)
            childFails(statusPipe, kBind);
        descriptorPath(plan.sourceFds[i], plan.sourcePaths[i]);
    }
    if (mount("tmpfs", "/sys", "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=0755,size=4k") != 0)
        childFails(statusPipe, kMountSys);
    if (plan.privateTmp && mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
        childFails(statusPipe, kMountTmp);
    for (const char* const* folder = plan.folders; *folder != nullptr; ++folder)
        if (mkdir(*folder, 0755) != 0 && errno != EEXIST)
            childFails(statusPipe, kMakeTarget);
    for (size_t i = 0; plan.bindFrom[i] != nullptr; ++i)
        if (mount(plan.sourcePaths[i], plan.bindTo[i], nullptr, MS_BIND | MS_REC, nullptr) != 0)
            childFails(statusPipe, kBind);

    if (!plan.writableDev &&
        mount("tmpfs", "/dev", nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NOEXEC, "mode=0755,size=1m") != 0)
        childFails(statusPipe, kReadOnly);
    if (mount("tmpfs", "/sys", nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=0755,size=4k") !=
        0)
        childFails(statusPipe, kReadOnly);

    if (plan.beforeArgv != nullptr) {
        const int status = runScript(plan.beforeArgv, plan, plan.err);
        if (status != 0) {
            // Its own complaint is on the run's standard error.
            errno = status < 0 ? errno : ECANCELED;
            childFails(statusPipe, kBefore);
        }
    }
    if (plan.afterArgv == nullptr)
        execProgram(statusPipe, plan);

    // The program runs in a grandchild, so that this process can look at the
    // namespace once it has ended; it dies with this process on a time-out.
    const pid_t self = getpid();
    const pid_t program = fork();
    if (program == 0) {
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != self)
            _exit(127);
        execProgram(statusPipe, plan);
    }
    if (program < 0)
        childFails(statusPipe, kExec);
    // The caller learns of the exec from the pipe's end: only the
    // grandchild may hold it open from now on.
    close(statusPipe);
    int status = 0;
    while (waitpid(program, &status, 0) < 0)
        if (errno != EINTR)
            _exit(127);
    runScript(plan.afterArgv, plan, plan.afterOut);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

bool hasName(const std::string& entry, const std::string& name)
{
    return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=';
}

// The folder of a path given absolute; "" for a bare name (found through
// the search path, nothing to keep).
std::string parentFolder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || slash == 0 || slash == std::string::npos)
        return std::string();
    return path.substr(0, slash);
}

std::string nameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::string withOption(const char* current, const std::string& option)
{
    std::string value = current != nullptr ? current : "";
    if (value.find(option) != std::string::npos)
        return value;
    return value.empty() ? option : value + ":" + option;
}

void setVariable(std::vector<std::string>& environment, const std::string& entry)
{
    const std::string name = nameOf(entry);
    environment.erase(std::remove_if(environment.begin(), environment.end(),
                                     [&name](const std::string& e) { return hasName(e, name); }),
                      environment.end());
    environment.push_back(entry);
}

// Module tools that never change the machine's kernel: lsmod reports the
// IPMI stack of a server with a management controller as loaded (so the
// IPMI library neither loads nor unloads it), the others refuse. Made once
// per process and put first in the search path of runs that do not set
// their own.
const std::string& refusingModuleTools()
{
    static TempDir folder(false);
    static const std::string path = [] {
        const std::string bin = folder.path() + "/module-tools";
        auto write = [](const std::string& file, const std::string& text) {
            FILE* out = std::fopen(file.c_str(), "w");
            if (out == nullptr || std::fputs(text.c_str(), out) < 0 || std::fclose(out) != 0 ||
                chmod(file.c_str(), 0755) != 0)
                throw std::runtime_error("launchIsolated: cannot write " + file);
        };
        if (mkdir(bin.c_str(), 0755) != 0)
            throw std::runtime_error("launchIsolated: cannot make " + bin);
        write(bin + "/lsmod", "#!/bin/sh\n"
                              "echo 'Module                  Size  Used by'\n"
                              "echo 'ipmi_si                86016  0'\n"
                              "echo 'ipmi_devintf           20480  0'\n"
                              "echo 'ipmi_msghandler        77824  2 ipmi_devintf,ipmi_si'\n");
        for (const char* tool : {"modprobe", "rmmod", "insmod", "depmod"})
            write(bin + "/" + tool, "#!/bin/sh\nexit 1\n");
        return bin;
    }();
    return path;
}

std::vector<std::string> childEnvironment(const LaunchRequest& request)
{
    std::vector<std::string> text;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (!hasName(*entry, "UMOCKDEV_DIR"))
            text.push_back(*entry);
    if (!request.umockdevRoot.empty())
        setVariable(text, "UMOCKDEV_DIR=" + request.umockdevRoot);
    std::string preload = request.preload;
    if (const char* current = std::getenv("LD_PRELOAD"))
        preload += (preload.empty() || *current == '\0' ? "" : ":") + std::string(current);
    setVariable(text, "LD_PRELOAD=" + preload);
    // A sanitizer build refuses to run when another library is preloaded
    // before its runtime unless told otherwise.
    setVariable(text, "ASAN_OPTIONS=" + withOption(std::getenv("ASAN_OPTIONS"), "verify_asan_link_order=0"));
    const char* path = std::getenv("PATH");
    setVariable(text, "PATH=" + refusingModuleTools() + ":" + (path != nullptr ? path : "/usr/sbin:/usr/bin:/sbin:/bin"));
    for (const std::string& entry : request.environment)
        setVariable(text, entry);
    return text;
}

std::vector<const char*> constPointersTo(const std::vector<std::string>& text)
{
    std::vector<const char*> pointers;
    for (const std::string& entry : text)
        pointers.push_back(entry.c_str());
    pointers.push_back(nullptr);
    return pointers;
}

// Every folder from below "/" down to `path` ("/a/b" gives "/a", "/a/b").
void addFolderChain(const std::string& path, std::vector<std::string>& folders)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
        if (slash == std::string::npos)
            break;
    }
}

std::vector<char*> pointersTo(std::vector<std::string>& text)
{
    std::vector<char*> pointers;
    for (std::string& entry : text)
        pointers.push_back(&entry[0]);
    pointers.push_back(nullptr);
    return pointers;
}

// Closes a descriptor when the scope ends.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int value) : fd(value) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

[[noreturn]] void launchFails(const std::string& message)
{
    ADD_FAILURE() << message;
    throw std::runtime_error(message);
}

} // namespace

LaunchResult launchIsolated(const LaunchRequest& request)
{
    if (request.executable.empty() || request.executable[0] != '/')
        launchFails("launchIsolated: the executable needs an absolute path: " + request.executable);

    TempDir capture(false);
    capture.write("stdin", request.input);
    if (mkdir(capture.file("pts").c_str(), 0700) != 0)
        launchFails("launchIsolated: cannot create " + capture.file("pts"));

    // Everything the child needs is prepared before fork: the caller may
    // have threads (umockdev's worker), so the child only makes system calls.
    std::vector<std::string> argvText;
    argvText.push_back(request.executable);
    argvText.insert(argvText.end(), request.args.begin(), request.args.end());
    std::vector<char*> argv = pointersTo(argvText);
    std::vector<std::string> envText = childEnvironment(request);
    std::vector<char*> envp = pointersTo(envText);
    const std::string ptsAside = capture.file("pts");

    Descriptor in(::open(capture.file("stdin").c_str(), O_RDONLY | O_CLOEXEC));
    Descriptor out(::open(capture.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    Descriptor err(::open(capture.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (in.fd < 0 || out.fd < 0 || err.fd < 0)
        launchFails("launchIsolated: cannot prepare the standard streams of the run");
    int statusPipe[2];
    if (pipe2(statusPipe, O_CLOEXEC) != 0)
        launchFails("launchIsolated: pipe failed");
    Descriptor statusRead(statusPipe[0]);
    Descriptor statusWrite(statusPipe[1]);

    std::vector<std::string> bindFrom, bindTo, folders;
    std::vector<LaunchRequest::Bind> binds;
    if (request.privateTmp) {
        // The testbed, the working folder and the folders of the program and
        // of its preloads (a build tree may itself lie in /tmp) keep their
        // paths.
        std::vector<std::string> kept = {request.umockdevRoot, request.workDir, parentFolder(request.executable),
                                         refusingModuleTools()};
        std::istringstream preloads(request.preload);
        for (std::string library; std::getline(preloads, library, ':');)
            kept.push_back(parentFolder(library));
        for (const std::string& folder : kept) {
            const bool seen = std::any_of(binds.begin(), binds.end(),
                                          [&folder](const LaunchRequest::Bind& b) { return b.target == folder; });
            if (folder.compare(0, 5, "/tmp/") == 0 && !seen)
                binds.push_back({folder, folder});
        }
    }
    binds.insert(binds.end(), request.binds.begin(), request.binds.end());
    for (const LaunchRequest::Bind& bind : binds) {
        if (bind.target.empty() || bind.target[0] != '/' || bind.target == "/")
            launchFails("launchIsolated: a bind needs an absolute target below /: " + bind.target);
        struct stat info;
        if (stat(bind.source.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            launchFails("launchIsolated: not a folder to bind: " + bind.source);
        bindFrom.push_back(bind.source);
        bindTo.push_back(bind.target);
        addFolderChain(bind.target, folders);
    }
    std::vector<const char*> folderList = constPointersTo(folders);
    std::vector<const char*> fromList = constPointersTo(bindFrom);
    std::vector<const char*> toList = constPointersTo(bindTo);
    std::vector<int> sourceFds(binds.size() + 1, -1);
    std::vector<char[32]> sourcePaths(binds.size() + 1);

    std::vector<std::string> beforeText = {"/bin/sh", "-c", request.before};
    std::vector<std::string> afterText = {"/bin/sh", "-c", request.after};
    std::vector<std::string> scriptEnvText = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    std::vector<char*> beforeArgv = pointersTo(beforeText);
    std::vector<char*> afterArgv = pointersTo(afterText);
    std::vector<char*> scriptEnvp = pointersTo(scriptEnvText);
    Descriptor nullIn(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    Descriptor afterOut(::open(capture.file("after").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (nullIn.fd < 0 || afterOut.fd < 0)
        launchFails("launchIsolated: cannot prepare the streams of the run's scripts");

    ChildPlan plan = {ptsAside.c_str(), request.workDir.c_str(), in.fd, out.fd, err.fd, argv.data(), envp.data(),
                      request.writableDev, request.privateTmp, folderList.data(), fromList.data(), toList.data(),
                      sourceFds.data(), sourcePaths.data(), request.before.empty() ? nullptr : beforeArgv.data(),
                      request.after.empty() ? nullptr : afterArgv.data(), scriptEnvp.data(), nullIn.fd, afterOut.fd};

    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0)
        isolateAndExec(statusWrite.fd, plan);
    if (pid < 0)
        launchFails("launchIsolated: fork failed");
    ::close(statusWrite.fd);
    statusWrite.fd = -1;

    // The pipe closes on exec; anything read from it is a step that failed.
    ChildFailure failure = {-1, 0};
    ssize_t got;
    do
        got = ::read(statusRead.fd, &failure, sizeof(failure));
    while (got < 0 && errno == EINTR);

    LaunchResult result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(request.timeoutSeconds);
    while (true) {
        const pid_t done = waitpid(pid, &status, got > 0 ? 0 : WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            launchFails("launchIsolated: waitpid failed");
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (got > 0) {
        const int step = failure.step >= 0 && failure.step <= kExec ? failure.step : kExec;
        launchFails("launchIsolated: " + std::string(kStepNames[step]) + " failed before " + request.executable +
                    " could run: " + std::strerror(failure.error) + "\n" + capture.read("stderr"));
    }
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exitStatus = 128 + WTERMSIG(status);
    result.out = capture.read("stdout");
    result.err = capture.read("stderr");
    result.afterOut = capture.read("after");
    return result;
}
