#include "PlatformLayer.h"

#include "FileIO.h"
#include "LinuxImpl.h"
#include "Logger.h"

IPlatformImpl* CPlatformLayer::m_pPlatformImpl = nullptr;

static IPlatformImpl* linuxPlatform()
{
    // Created on first use and never deleted: the layer may still be used
    // from static destructors of other units' objects.
    static IPlatformImpl* instance = new CLinuxImpl();
    return instance;
}

IPlatformImpl* CPlatformLayer::impl()
{
    if (m_pPlatformImpl == nullptr)
        m_pPlatformImpl = linuxPlatform();
    return m_pPlatformImpl;
}

IPlatformImpl* CPlatformLayer::SetForTesting(IPlatformImpl* platform)
{
    IPlatformImpl* previous = impl();
    m_pPlatformImpl = platform != nullptr ? platform : linuxPlatform();
    return previous;
}

IPlatformImpl* CPlatformLayer::GetPlatform() { return impl(); }
bool CPlatformLayer::isZEMOInstalled() { return impl()->isZEMOInstalled(); }
int CPlatformLayer::InstallZemo() { return impl()->InstallZemo(); }
int CPlatformLayer::UninstallZemo() { return impl()->UninstallZemo(); }
void* CPlatformLayer::Load_Library(const std::string& libraryName) { return impl()->LoadLibrary(libraryName); }
void* CPlatformLayer::Load_Library_without_Customization(const std::string& libraryName)
{
    return impl()->LoadLibrarywithoutCustomization(libraryName);
}
void CPlatformLayer::FreeLibrary(void* handle) { impl()->FreeLibrary(handle); }
void* CPlatformLayer::GetProcAddress(void* handle, const std::string& symbol)
{
    return impl()->GetProcAddress(handle, symbol);
}
int CPlatformLayer::ExecuteCmd(const std::string& command, bool flag, const long& value)
{
    return impl()->ExecuteCmd(command, flag, value);
}
int CPlatformLayer::ExecuteCmdNoWait(const std::string& command, bool flag, const long& value)
{
    return impl()->ExecuteCmdNoWait(command, flag, value);
}
int CPlatformLayer::ExecuteCmdCapture(const std::string& command, std::size_t maxBytes, std::string& output)
{
    return impl()->ExecuteCmdCapture(command, maxBytes, output);
}
void CPlatformLayer::Sleep(int seconds) { impl()->Sleep(seconds); }
std::string CPlatformLayer::getCurrentDirectory() { return impl()->getCurrentDirectory(); }
std::string CPlatformLayer::getCurrentProcessDirectory() { return impl()->getCurrentProcessDirectory(); }
std::vector<std::string> CPlatformLayer::GetFileList(std::string& directory) { return impl()->GetFileList(directory); }
std::vector<std::string> CPlatformLayer::GetFileListName(std::string& directory)
{
    return impl()->GetFileListName(directory);
}
bool CPlatformLayer::setCurrentDirectory(const std::string& directory) { return impl()->setCurrentDirectory(directory); }
bool CPlatformLayer::IsFileExits(const std::string& fileName) { return impl()->IsFileExits(fileName); }
bool CPlatformLayer::IsFileExistsAbs(const std::string& path) { return impl()->IsFileExistsAbs(path); }
void* CPlatformLayer::LoadZemoLibrary(const std::string& libraryFile) { return impl()->LoadZemoLibrary(libraryFile); }
bool CPlatformLayer::isUSBblocklisted() { return impl()->isUSBblocklisted(); }
void CPlatformLayer::unloadUSB() { impl()->unloadUSB(); }
int CPlatformLayer::Umount(const std::string& directory) { return impl()->Umount(directory); }
bool CPlatformLayer::isESXiSystem() { return impl()->isESXiSystem(); }

bool CPlatformLayer::CreateEmptyZORDebuLogFile()
{
    // Created (or emptied) only as a regular file of its own: a link planted
    // at the name must not lead root to empty another file.
    CUniqueFd marker(OpenRegularFileForWriting(strEnableLogFileName, true));
    return marker.valid();
}
