#define QRM_LOG_UNIT "cm_qrmipmi/src/LQRMIPMIDriverManager"

#include "LQRMIPMIDriverManager.h"

#include <string>

#include "PlatformLayer.h"
#include "QRMIPMIDeviceAccess.h"
#include "QRMLogger.h"

namespace {

const QRMString::QRMCharEncodingType kUTF8 = QRMString::QRM_ENCODING_UTF8;

// Seconds a module is given to settle before it is unloaded.
const unsigned int kReleaseDelaySeconds = 3;

int RunCommand(const QRMString& command)
{
    const long unused = 0;
    return CPlatformLayer::ExecuteCmd(command.GetUTF8String(), false, unused);
}

} // namespace

const QRMString strLsmod("lsmod ", kUTF8);
const QRMString strModprobe("modprobe ", kUTF8);
const QRMString strRmmod("rmmod ", kUTF8);
const QRMString strGrep("grep ", kUTF8);
const QRMString strPipe(" | ", kUTF8);
const QRMString strDevNull(" > /dev/null 2>&1 ", kUTF8);
const QRMString strMsgHndlr("ipmi_msghandler", kUTF8);
const QRMString strDevIntf("ipmi_devintf", kUTF8);
const QRMString strSI("ipmi_si", kUTF8);

DriverManager::DriverManager()
    : mDevIntfLoaded(false), mMsgHandlerLoaded(false), mSILoaded(false),
      mDriverReady(false), mLoadedByUs(false), mEnvironment()
{
    QRMLOG(QRM_LOG_INFO, "Entering DriverManager::DriverManager()");
    QRMLOG(QRM_LOG_INFO, "Leaving DriverManager::DriverManager()");
}

DriverManager::~DriverManager()
{
    QRMLOG(QRM_LOG_INFO, "Entering DriverManager::~DriverManager()");
    ReleaseIPMIDriver();
    QRMLOG(QRM_LOG_INFO, "Leaving DriverManager::~DriverManager()");
}

int DriverManager::IsDriverAvailable(QRMString driverName)
{
    const std::string name = driverName.GetUTF8String();
    QRMLOG(QRM_LOG_INFO, "Entering DriverManager::IsDriverAvailable() %s", name.c_str());
    QRMString command = strLsmod + strPipe + strGrep + driverName + strDevNull;
    const int status = RunCommand(command);
    QRMLOG(QRM_LOG_INFO, "Command %s, Exit code : %d", command.GetUTF8String().c_str(), status);
    return status;
}

int DriverManager::LoadDriver(QRMString driverName)
{
    const std::string name = driverName.GetUTF8String();
    QRMLOG(QRM_LOG_INFO, "Entering DriverManager::LoadDriver() %s ", name.c_str());
    QRMString command = strModprobe + driverName + strDevNull;
    const int status = RunCommand(command);
    QRMLOG(QRM_LOG_INFO, "Command : %s, exit code : %d", command.GetUTF8String().c_str(), status);
    return status;
}

int DriverManager::ReleaseDriver(QRMString driverName)
{
    const std::string name = driverName.GetUTF8String();
    QRMLOG(QRM_LOG_INFO, "Entering DriverManager::ReleaseDriver() %s ", name.c_str());
    QRMIPMISleeperAccess::Get()->SleepSeconds(kReleaseDelaySeconds);
    QRMString command = strRmmod + driverName + strDevNull;
    const int status = RunCommand(command);
    QRMLOG(QRM_LOG_INFO, "Releasing driver, command : %s, Exit code : %d\n",
           command.GetUTF8String().c_str(), status);
    QRMLOG(QRM_LOG_INFO, "Leaving DriverManager::ReleaseDriver()");
    return status;
}

unsigned int DriverManager::IsIPMIDriverAvailable()
{
    QRMLOG(QRM_LOG_INFO, "Entering DriverManager::IsIPMIDriverAvailable()");
    if (mDriverReady) {
        return 0;
    }
    mEnvironment.Initialize();
    const int os = mEnvironment.GetOSName();
    if (os == QRM_OS_VMWARE_ESXI || os == QRM_OS_VMWARE_ESX) {
        QRMLOG(QRM_LOG_INFO, "Detected the system as ESX and hence blacklisting the checks for "
                             "loading the driver on Linux Operating System");
        return 0;
    }

    struct {
        const QRMString* name;
        bool* loaded;
    } const modules[] = {
        {&strMsgHndlr, &mMsgHandlerLoaded},
        {&strDevIntf, &mDevIntfLoaded},
        {&strSI, &mSILoaded},
    };
    for (const auto& module : modules) {
        if (IsDriverAvailable(*module.name) == 0) {
            *module.loaded = true;
            QRMLOG(QRM_LOG_INFO, "Driver %s is loaded", module.name->GetUTF8String().c_str());
        }
    }

    unsigned int result = 0;
    if (mMsgHandlerLoaded && mDevIntfLoaded && mSILoaded) {
        mDriverReady = true;
    } else {
        result = LoadIPMIDriver();
        if (result == 0) {
            mDriverReady = true;
        }
    }
    QRMLOG(QRM_LOG_INFO, "Leaving DriverManager::IsIPMIDriverAvailable()");
    return result;
}

unsigned int DriverManager::LoadIPMIDriver()
{
    QRMLOG(QRM_LOG_INFO, "Entering DriverManager::LoadIPMIDriver()");
    mLoadedByUs = true;

    int attempted = 0;
    int failed = 0;
    struct {
        const QRMString* name;
        bool loaded;
    } const modules[] = {
        {&strMsgHndlr, mMsgHandlerLoaded},
        {&strDevIntf, mDevIntfLoaded},
        {&strSI, mSILoaded},
    };
    for (const auto& module : modules) {
        if (!module.loaded) {
            ++attempted;
            if (LoadDriver(*module.name) != 0) {
                ++failed;
            }
        }
    }
    QRMLOG(QRM_LOG_INFO, "Leaving DriverManager::LoadIPMIDriver()");
    // Only a host where none of the three could be brought up is hopeless;
    // with any module present the device may still open.
    return (attempted == 3 && failed == 3) ? 1 : 0;
}

unsigned int DriverManager::ReleaseIPMIDriver()
{
    QRMLOG(QRM_LOG_INFO, "DriverManager::ReleaseIPMIDriver() Entering");
    if (!mLoadedByUs) {
        return 0;
    }
    mEnvironment.Initialize();
    if (mEnvironment.GetOSName() == QRM_OS_VMWARE_ESXI) {
        return 0;
    }
    struct {
        const QRMString* name;
        bool loaded;
    } const modules[] = {
        {&strSI, mSILoaded},
        {&strDevIntf, mDevIntfLoaded},
        {&strMsgHndlr, mMsgHandlerLoaded},
    };
    for (const auto& module : modules) {
        if (!module.loaded) {
            // A module still in use (device open) refuses to go; that is
            // expected and not acted on.
            ReleaseDriver(*module.name);
            QRMLOG(QRM_LOG_INFO, "Unloaded IPMI driver %s since it is already loaded",
                   module.name->GetUTF8String().c_str());
        }
    }
    mLoadedByUs = false;
    mDevIntfLoaded = false;
    mMsgHandlerLoaded = false;
    mSILoaded = false;
    mDriverReady = false;
    QRMLOG(QRM_LOG_INFO, "DriverManager::ReleaseIPMIDriver() Leaving");
    return 0;
}
