#include "LinuxImpl.h"

#include <dirent.h>
#include <strings.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Logger.h"

#define ZAGO_LOG_UNIT "cm_CMBaseUtils/src/LinuxImpl"

namespace {
const size_t kPathBufferSize = 2048;
}

bool CLinuxImpl::bUSBDriverNotLoaded = false;
bool CLinuxImpl::bUSBDriverLoadedByZOR = false;
bool CLinuxImpl::bUSBBlocklistCheckDone = false;
bool CLinuxImpl::bZEMOAlreadyInstalled = false;
int CLinuxImpl::nZEMOInstallRefCount = 0;

void* CLinuxImpl::LoadLibrary(const std::string& libraryName)
{
    if (libraryName.find('/') != std::string::npos && !IsFileExistsAbs(libraryName))
        return nullptr;
    return dlopen(libraryName.c_str(), RTLD_NOW);
}

void* CLinuxImpl::LoadLibrarywithoutCustomization(const std::string& libraryName)
{
    return LoadLibrary(libraryName);
}

void CLinuxImpl::FreeLibrary(void* handle)
{
    if (handle != nullptr)
        dlclose(handle);
}

void* CLinuxImpl::GetProcAddress(void* handle, const std::string& symbol)
{
    if (handle == nullptr)
        return nullptr;
    return dlsym(handle, symbol.c_str());
}

int CLinuxImpl::ExecuteCmd(const std::string& command, bool, const long&)
{
    return system(command.c_str());
}

int CLinuxImpl::ExecuteCmdNoWait(const std::string& command, bool, const long&)
{
    std::string background = command + " &";
    return system(background.c_str());
}

int CLinuxImpl::ExecuteCmdCapture(const std::string& command, std::size_t maxBytes, std::string& output)
{
    output.clear();
    // Close-on-exec: the pipe is this call's alone, no command started
    // meanwhile inherits it.
    FILE* stream = popen(command.c_str(), "re");
    if (stream == nullptr)
        return -1;
    char block[4096];
    while (output.size() < maxBytes) {
        const size_t want = std::min(sizeof(block), maxBytes - output.size());
        const size_t got = std::fread(block, 1, want, stream);
        output.append(block, got);
        if (got < want) {
            if (std::ferror(stream) && errno == EINTR) {
                std::clearerr(stream);
                continue;
            }
            break;
        }
    }
    // pclose closes the pipe before it waits, so a command with more to say
    // gets a broken pipe rather than waiting for a reader forever.
    return pclose(stream);
}

// The directories unmounted lie in folders other users write to: a link
// put in their place is never followed to someone else's mount.
int CLinuxImpl::Umount(const std::string& directory)
{
    if (::umount2(directory.c_str(), UMOUNT_NOFOLLOW) == 0)
        return 0;
    return errno;
}

void CLinuxImpl::Sleep(int seconds)
{
    if (seconds > 0)
        ::sleep(static_cast<unsigned int>(seconds));
}

namespace {

// The working directory followed by "/". A failed getcwd (the directory was
// removed, a part of its path can no longer be read) must not turn into "/":
// names appended to it would then be looked up under the root directory.
// It is logged and gives "./", so that appended names still resolve against
// the working directory, whatever its name. A long path is no failure: the
// buffer grows until it fits.
std::string workingDirectoryWithSlash()
{
    std::vector<char> buffer(kPathBufferSize, '\0');
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() >= kPathBufferSize * 1024) {
            ZLOG("CLinuxImpl::getCurrentDirectory() failed via getcwd " + std::to_string(errno));
            return "./";
        }
        buffer.assign(buffer.size() * 2, '\0');
    }
    return std::string(buffer.data()) + "/";
}

} // namespace

std::string CLinuxImpl::getCurrentDirectory()
{
    return workingDirectoryWithSlash();
}

std::string CLinuxImpl::getCurrentProcessDirectory()
{
    // Grow the buffer until the link target fits: a truncated target would
    // name the wrong directory for the payload folder.
    std::string target;
    for (size_t size = kPathBufferSize; size <= 16 * kPathBufferSize * 1024; size *= 2) {
        std::string buffer(size, '\0');
        ssize_t length = readlink("/proc/self/exe", &buffer[0], size);
        if (length <= 0)
            break;
        if (static_cast<size_t>(length) < size) {
            target.assign(buffer.c_str());
            break;
        }
    }
    if (target.empty()) {
        ZLOG("CLinuxImpl::getCurrentProcessDirectory() failed via readlink");
        return workingDirectoryWithSlash();
    }
    std::string::size_type slash = target.rfind('/');
    if (slash != std::string::npos)
        target.erase(slash);
    return target + "/";
}

bool CLinuxImpl::setCurrentDirectory(const std::string& directory)
{
    return chdir(directory.c_str()) == 0;
}

std::vector<std::string> CLinuxImpl::listDirectory(const std::string& directory, bool fullNames)
{
    std::vector<std::string> entries;
    DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
    const std::string prefix = directory + "/";
    if (dir == nullptr)
        return entries;
    while (struct dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        entries.push_back(fullNames ? prefix + entry->d_name : std::string(entry->d_name));
    }
    closedir(dir);
    return entries;
}

std::vector<std::string> CLinuxImpl::GetFileList(std::string& directory)
{
    return listDirectory(directory, true);
}

std::vector<std::string> CLinuxImpl::GetFileListName(std::string& directory)
{
    return listDirectory(directory, false);
}

bool CLinuxImpl::IsFileExits(const std::string& fileName)
{
    return IsFileExistsAbs(getCurrentDirectory() + fileName);
}

bool CLinuxImpl::IsFileExistsAbs(const std::string& path)
{
    // Whether the file opens for reading, as a stream would open it; but
    // without waiting for a writer when the name is a FIFO, and without
    // handing the descriptor to a command started meanwhile.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    bool exists = fd >= 0;
    if (exists)
        ::close(fd);
    ZLOG("CLinuxImpl::IsFileExistsAbs() File name " + path + (exists ? " exist" : " doesnt exist"));
    return exists;
}

// ---------------------------------------------------------------------------
// USB storage module handling and ESX detection
// ---------------------------------------------------------------------------
namespace {
const char* const kESXReleaseFile = "/etc/vmware-release";
const char* const kVMkernelName = "VMkernel";
// Each command discards its own output; judged by exit status only.
const char* const kUSBBuiltinTestCmd =
    "grep -i \"usb[-_]storage.ko\" /lib/modules/$(uname -r)/modules.builtin  > /dev/null 2>&1";
const char* const kUSBLoadedTestCmd = "lsmod | grep usb_storage  > /dev/null 2>&1";
const char* const kUSBLoadCmd = "modprobe usb_storage  > /dev/null 2>&1";
const char* const kUSBRemoveCmd = "rmmod usb_storage  > /dev/null 2>&1";
const int kUSBRemoveAttempts = 59;

bool equalsIgnoreCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string lowerCase(std::string text)
{
    for (std::string::size_type i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    return text;
}
} // namespace

bool CLinuxImpl::queryKernelName(std::string& systemName)
{
    struct utsname name;
    if (uname(&name) != 0)
        return false;
    systemName = name.sysname;
    return true;
}

bool CLinuxImpl::readFirstLine(const std::string& path, std::string& line)
{
    line.clear();
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr)
        return true;
    char buffer[1024];
    std::memset(buffer, 0, sizeof(buffer));
    if (std::fgets(buffer, sizeof(buffer), file) != nullptr)
        line = buffer;
    std::fclose(file);
    return true;
}

bool CLinuxImpl::isESXiSystem()
{
    std::string systemName;
    if (!queryKernelName(systemName))
        return false;
    return equalsIgnoreCase(systemName, kVMkernelName);
}

bool CLinuxImpl::isESXSystem()
{
    std::string line;
    if (!readFirstLine(kESXReleaseFile, line))
        return false;
    line = lowerCase(line);
    if (line.find("vmware esx server 3") != std::string::npos) {
        ZLOG("getLinuxOSVer: ESX 3 Found");
        return true;
    }
    if (line.find("vmware esx 4.1") != std::string::npos) {
        ZLOG("getLinuxOSVer: ESX 4 Found");
        return true;
    }
    if (line.find("vmware esx 4") != std::string::npos) {
        ZLOG("getLinuxOSVer: ESX 4 Found");
        return true;
    }
    ZLOG("getLinuxOSVer: Unrecognized VMWare Found");
    return false;
}

bool CLinuxImpl::isUSBStorageStaticallyLinked()
{
    ZLOG(" CLinuxImpl::isUSBStorageStaticallyLinked Start");
    if (ExecuteCmd(kUSBBuiltinTestCmd, false, 0) == 0) {
        ZLOG("CLinuxImpl::isUSBStorageStaticallyLinked usb_storage is built with kernel");
        return true;
    }
    ZLOG(" CLinuxImpl::isUSBStorageStaticallyLinked End");
    return false;
}

bool CLinuxImpl::isUSBblocklisted()
{
    ZLOG(" CLinuxImpl::isUSBblocklisted Start");
    if (isESXiSystem() || isESXSystem()) {
        ZLOG(" CLinuxImpl::Skipping USB blocklisting check for ESXi and ESX");
        return false;
    }
    if (isUSBStorageStaticallyLinked())
        return false;
    if (bUSBBlocklistCheckDone) {
        ZLOG(" CLinuxImpl::isUSBblocklisted check has already been performed earlier.");
        ZLOG(" CLinuxImpl::isUSBblocklisted End");
        return bUSBDriverNotLoaded;
    }
    ZLOG(" CLinuxImpl::isUSBblocklisted check is being done for the first time.");
    if (ExecuteCmd(kUSBLoadedTestCmd, false, 0) == 0) {
        ZLOG("CLinuxImpl::isUSBblocklisted usb_storage module is already present.");
    } else if (ExecuteCmd(kUSBLoadCmd, false, 0) == 0 && ExecuteCmd(kUSBLoadedTestCmd, false, 0) == 0) {
        ZLOG("CLinuxImpl::isUSBblocklisted loading usb_storage module is successful.");
        bUSBDriverLoadedByZOR = true;
    } else {
        ZLOG("CLinuxImpl::isUSBblocklisted usb_storage module is not loaded. Attempt to load it was unsuccessful.");
        bUSBDriverNotLoaded = true;
    }
    ZLOG(" CLinuxImpl::isUSBblocklisted End");
    bUSBBlocklistCheckDone = true;
    return bUSBDriverNotLoaded;
}

void CLinuxImpl::unloadUSB()
{
    ZLOG(" CLinuxImpl::unloadUSB Start");
    if (bUSBDriverLoadedByZOR) {
        ZLOG(" CLinuxImpl::unloadUSB usb module need be unloaded");
        for (int attempt = 0; attempt < kUSBRemoveAttempts; ++attempt) {
            if (ExecuteCmd(kUSBRemoveCmd, false, 0) == 0) {
                ZLOG("CLinuxImpl::unloadUSB unloading usb module is successful.");
                break;
            }
            Sleep(1);
            ZLOG("CLinuxImpl::unloadUSB unloading usb module is not successful.");
        }
    } else {
        ZLOG(" CLinuxImpl::unloadUSB is not required.");
    }
    ZLOG(" CLinuxImpl::unloadUSB End");
    bUSBBlocklistCheckDone = false;
    bUSBDriverLoadedByZOR = false;
    bUSBDriverNotLoaded = false;
}

// ---------------------------------------------------------------------------
// Hardware-access library installation
// ---------------------------------------------------------------------------
namespace {
const char* const kZemoFolder = "/opt/kave/zor64/lib/";
const char* const kZemoFolderESXi = "/scratch/opt/kave/zor/lib/";
const char* const kZemoLibrary = "libzurmel.so";
const char* const kZemoLibrary64 = "libzurmel64.so";
const char* const kZemoInstallScript = "/zorfennicinstall.sh";

// The executable's directory may hold blanks or shell syntax; single quotes
// keep it one literal word.
std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        if (text[i] == '\'')
            quoted += "'\\''";
        else
            quoted += text[i];
    }
    return quoted + "'";
}
} // namespace

std::string CLinuxImpl::zemoInstallFolder()
{
    return isESXiSystem() ? kZemoFolderESXi : kZemoFolder;
}

std::string CLinuxImpl::zemoScriptCommand(const std::string& action)
{
    return shellQuote(getCurrentProcessDirectory() + kZemoInstallScript) + " " + action;
}

bool CLinuxImpl::isZEMOInstalled()
{
    const std::string folder = zemoInstallFolder();
    void* handle = LoadLibrary(folder + kZemoLibrary);
    ZLOG("Load library using " + folder + kZemoLibrary);
    if (handle == nullptr)
        handle = LoadLibrary(folder + kZemoLibrary64);
    if (handle == nullptr)
        return false;
    ZLOG("ZEMO is installed in the system");
    FreeLibrary(handle);
    return true;
}

bool CLinuxImpl::isVUTAZEMOInstalled()
{
    void* handle = LoadLibrary(kZemoLibrary);
    if (handle == nullptr)
        handle = LoadLibrary(kZemoLibrary64);
    if (handle == nullptr)
        return false;
    FreeLibrary(handle);
    return true;
}

int CLinuxImpl::InstallZemo()
{
    if (nZEMOInstallRefCount++ != 0)
        return 0;
    bZEMOAlreadyInstalled = isZEMOInstalled();
    if (bZEMOAlreadyInstalled)
        return 0;
    ZLOG("InstallZemo: Custom Zemo Not Already Present");
    const std::string command = zemoScriptCommand("install");
    ZLOG("Executimg command: " + command);
    if (ExecuteCmd(command, false, 0) == 0) {
        ZLOG("InstallZemo: Custome Zemo Installed Successfully");
        return 0;
    }
    ZLOG("InstallZemo: Zemo Installation Failed");
    if (isVUTAZEMOInstalled()) {
        ZLOG("InstallZemo: Found VUTA Zemo");
        return 0;
    }
    ZLOG("InstallZemo: VUTA Zemo Not Present");
    return 1;
}

int CLinuxImpl::UninstallZemo()
{
    int result = 0;
    // An unmatched uninstall must not push the count negative: the next
    // install would then be taken for a nested one and skip the install.
    if (nZEMOInstallRefCount > 0 && --nZEMOInstallRefCount == 0 && !bZEMOAlreadyInstalled) {
        if (ExecuteCmd(zemoScriptCommand("uninstall"), false, 0) != 0)
            result = 1;
    }
    ZLOG("UninstallZemo: Zemo Uninstalled Successfully");
    return result;
}

void* CLinuxImpl::LoadZemoLibrary(const std::string& libraryFile)
{
    void* handle = LoadLibrary(zemoInstallFolder() + libraryFile);
    if (handle != nullptr)
        return handle;
    ZLOG("LoadZemoLibrary: Unable to Load " + libraryFile + " from " + kZemoFolder);
    handle = LoadLibrary(libraryFile);
    if (handle == nullptr)
        ZLOG("LoadZemoLibrary: Unable to Load " + libraryFile + " from " + "VUTA");
    return handle;
}
