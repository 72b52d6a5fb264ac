#include <cstdlib>
#include <string>

#include "LinuxEnumerateDevices.h"
#include "LinuxUtils.h"
#include "PlatformLayer.h"
#include "SecureTessa.h"

// The ESXi search: the hypervisor mounts the partition's volume itself once
// the controller's virtual USB device (vendor 0624, product 0250) is there.
static const std::string ESXi_RESCAN_COMMAND = "esxcli storage filesystem rescan";
static const std::string ESXi_IS_SECUPD_ATTACHED_COMMAND = "lsusb | grep -i 0624:0250 > /dev/null";
static const std::string ESXi_AUTOMOUNT_COMMAND = "esxcli storage filesystem automount";
static const std::string ESXi_LIST_MOUNTED_DEVICES = "ls /vmfs/volumes/ | grep ";
static const std::string ESXi_DEVICE_PATH = "/vmfs/volumes/SECUPD/";

static const char* const kSgLoadedProbe = "lsmod | grep -w sg >/dev/null;echo $?";
static const char* const kBlockdevReport = "/sbin/blockdev --report /dev/sd* > /dev/null 2>&1";
// The controller's USB disk shows up some seconds after the attach: 60
// attempts, 5 s apart on Linux hosts, 2 s once the device is listed on ESXi.
static const int kSearchAttempts = 60;
static const int kLinuxAttemptPause = 5;
static const int kESXiSettlePause = 2;

static int runShell(const std::string& command)
{
    return CPlatformLayer::ExecuteCmd(command, false, 0);
}

bool secureTessa::isSGDriverLoaded()
{
    std::string status = executeCmd(kSgLoadedProbe);
    return std::strtol(status.c_str(), nullptr, 10) == 0;
}

std::string secureTessa::getDevicePath(std::string& label)
{
    TESSA_LOG("getDevicePath: Entering");
    if (label.empty()) {
        TESSA_LOG("getDevicePath: Volume name is empty ");
        return std::string();
    }
    // The label ends up in a shell command on ESXi and names the mount
    // point later: only a partition label of the table is accepted.
    if (!isSafePartitionLabel(label)) {
        TESSA_LOG("getDevicePath: Volume name is not a partition label: " + label);
        return std::string();
    }

    if (hostOsIndex == ESXi) {
        for (int attempt = 0; attempt < kSearchAttempts; ++attempt) {
            TESSA_LOG("getDevicePath: going through ESXi way of mounting ");
            runShell(ESXi_RESCAN_COMMAND);
            if (runShell(ESXi_IS_SECUPD_ATTACHED_COMMAND) != 0)
                continue;
            TESSA_LOG("getDevicePAth: SECUPD attached on ESXi");
            runShell(ESXi_AUTOMOUNT_COMMAND);
            runShell(ESXi_RESCAN_COMMAND);
            CPlatformLayer::Sleep(kESXiSettlePause);
            if (runShell(ESXi_LIST_MOUNTED_DEVICES + label + " > /dev/null") == 0) {
                TESSA_LOG("getDevicePath: ESXi mount path found");
                return ESXi_DEVICE_PATH;
            }
            TESSA_LOG("getDevicePath: Device Not Found and Trying to Find again");
        }
    } else {
        bool diskOnly = false;
        if (!isSGDriverLoaded()) {
            TESSA_LOG("getDevicePath: SG driver is not loaded ");
            diskOnly = true;
        }
        if (hostOsIndex == ESX || hostOsIndex == ESX4 || hostOsIndex == ESX4_1)
            diskOnly = true;
        for (int attempt = 0; attempt < kSearchAttempts; ++attempt) {
            runShell(kBlockdevReport);
            CLinuxEnumerateDevices devices(diskOnly);
            std::string path;
            CPlatformLayer::Sleep(kLinuxAttemptPause);
            if (devices.GetDeviceWithLabel(label, path)) {
                TESSA_LOG("CEnumerateDevices found a device ");
                if (!path.empty()) {
                    TESSA_LOG(path);
                    return path;
                }
            }
            TESSA_LOG("Trying to find device ");
        }
    }
    TESSA_LOG("Could not find the device after all the retries ");
    return std::string();
}
