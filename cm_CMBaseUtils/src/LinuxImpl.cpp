#include "LinuxImpl.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

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

void CLinuxImpl::Sleep(int seconds)
{
    if (seconds > 0)
        ::sleep(static_cast<unsigned int>(seconds));
}

std::string CLinuxImpl::getCurrentDirectory()
{
    char buffer[kPathBufferSize];
    std::memset(buffer, 0, sizeof(buffer));
    if (getcwd(buffer, sizeof(buffer)) == nullptr)
        buffer[0] = '\0';
    return std::string(buffer) + "/";
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
        char buffer[kPathBufferSize];
        std::memset(buffer, 0, sizeof(buffer));
        if (getcwd(buffer, sizeof(buffer)) == nullptr)
            buffer[0] = '\0';
        return std::string(buffer) + "/";
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
    std::ifstream file(path.c_str());
    bool exists = file.is_open();
    if (exists)
        file.close();
    ZLOG("CLinuxImpl::IsFileExistsAbs() File name " + path + (exists ? " exist" : " doesnt exist"));
    return exists;
}

// ---------------------------------------------------------------------------
// USB storage module handling and ESX detection
// ---------------------------------------------------------------------------
// TODO(usb): filled in with the usb_storage handling.
bool CLinuxImpl::isESXiSystem() { return false; }
bool CLinuxImpl::isESXSystem() { return false; }
bool CLinuxImpl::isUSBStorageStaticallyLinked() { return false; }
bool CLinuxImpl::isUSBblocklisted() { return false; }
void CLinuxImpl::unloadUSB() {}

// ---------------------------------------------------------------------------
// Hardware-access library installation
// ---------------------------------------------------------------------------
// TODO(zemo): filled in with the hardware-access library handling.
bool CLinuxImpl::isVUTAZEMOInstalled() { return false; }
bool CLinuxImpl::isZEMOInstalled() { return false; }
int CLinuxImpl::InstallZemo() { return 1; }
int CLinuxImpl::UninstallZemo() { return 1; }
void* CLinuxImpl::LoadZemoLibrary(const std::string&) { return nullptr; }
