#ifndef CM_QRMIPMI_QRMIPMIDEVICEACCESS_H
#define CM_QRMIPMI_QRMIPMIDEVICEACCESS_H

#include <ctime>
#include <linux/ipmi.h>

// Every touch of the Linux IPMI device goes through this interface, at the
// level of the kernel's own outcomes: each call returns what the system call
// returns and leaves errno as it would. The library uses
// QRMIPMIDeviceAccess::Get(); tests install their own device.
class IQRMIPMIDevice {
public:
    virtual ~IQRMIPMIDevice() {}
    // open(path, O_RDWR)
    virtual int Open(const char* path) = 0;
    // ioctl(fd, IPMICTL_SEND_COMMAND, request)
    virtual int SendCommand(int fd, struct ipmi_req* request) = 0;
    // Waits until fd is readable or the time-out passes. Like poll(): 1 when
    // fd reported an event (readable tells whether it is a readable one),
    // 0 on time-out, -1 on error.
    virtual int WaitReadable(int fd, const struct timespec& timeout, bool& readable) = 0;
    // ioctl(fd, IPMICTL_RECEIVE_MSG_TRUNC, answer)
    virtual int ReceiveMessage(int fd, struct ipmi_recv* answer) = 0;
    // close(fd)
    virtual int Close(int fd) = 0;
};

// The library's pauses (device search, retry intervals).
class IQRMIPMISleeper {
public:
    virtual ~IQRMIPMISleeper() {}
    virtual void SleepSeconds(unsigned int seconds) = 0;
    virtual void SleepMilliseconds(unsigned long long milliseconds) = 0;
};

// The process-wide IPMI device, the Linux one unless a test installed
// another.
class QRMIPMIDeviceAccess {
public:
    static IQRMIPMIDevice* Get();
    // Test seam: installs another device (not owned) and returns the
    // previous one; null restores the Linux device.
    static IQRMIPMIDevice* SetForTesting(IQRMIPMIDevice* device);
};

// The process-wide pauses of the library, real ones unless a test installed
// another sleeper.
class QRMIPMISleeperAccess {
public:
    static IQRMIPMISleeper* Get();
    // Test seam: installs another sleeper (not owned) and returns the
    // previous one; null restores the real pauses.
    static IQRMIPMISleeper* SetForTesting(IQRMIPMISleeper* sleeper);
};

#endif
