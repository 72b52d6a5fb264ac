#include "QRMIPMIDeviceAccess.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

class LinuxIPMIDevice : public IQRMIPMIDevice {
public:
    // Close-on-exec: the shell commands the tool runs must not inherit the
    // management controller's device.
    int Open(const char* path) override { return open(path, O_RDWR | O_CLOEXEC); }

    int SendCommand(int fd, struct ipmi_req* request) override
    {
        return ioctl(fd, IPMICTL_SEND_COMMAND, request);
    }

    // poll rather than select: select's fd_set cannot hold descriptors of
    // FD_SETSIZE (1024) and above. The outcome is the one select would give:
    // a hang-up or error counts as readable (the receive then reports it),
    // and a descriptor that is not open is an error.
    int WaitReadable(int fd, const struct timespec& timeout, bool& readable) override
    {
        struct pollfd pfd;
        pfd.fd = fd;
        pfd.events = POLLIN;
        pfd.revents = 0;
        readable = false;
        int rc = ppoll(&pfd, 1, &timeout, nullptr);
        if (rc > 0) {
            if (pfd.revents & POLLNVAL) {
                errno = EBADF;
                return -1;
            }
            readable = (pfd.revents & (POLLIN | POLLRDNORM | POLLRDBAND | POLLHUP | POLLERR)) != 0;
        }
        return rc;
    }

    int ReceiveMessage(int fd, struct ipmi_recv* answer) override
    {
        return ioctl(fd, IPMICTL_RECEIVE_MSG_TRUNC, answer);
    }

    int Close(int fd) override { return close(fd); }
};

class LinuxIPMISleeper : public IQRMIPMISleeper {
public:
    void SleepSeconds(unsigned int seconds) override { sleep(seconds); }

    void SleepMilliseconds(unsigned long long milliseconds) override
    {
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(milliseconds / 1000);
        ts.tv_nsec = static_cast<long>((milliseconds % 1000) * 1000000);
        nanosleep(&ts, nullptr);
    }
};

LinuxIPMIDevice gLinuxDevice;
LinuxIPMISleeper gLinuxSleeper;
// Constant-initialised, so a test program may install its device before
// main; atomic, as the library keeps sessions for several threads.
std::atomic<IQRMIPMIDevice*> gDevice{&gLinuxDevice};
std::atomic<IQRMIPMISleeper*> gSleeper{&gLinuxSleeper};

} // namespace

IQRMIPMIDevice* QRMIPMIDeviceAccess::Get() { return gDevice.load(); }

IQRMIPMIDevice* QRMIPMIDeviceAccess::SetForTesting(IQRMIPMIDevice* device)
{
    return gDevice.exchange(device != nullptr ? device : &gLinuxDevice);
}

IQRMIPMISleeper* QRMIPMISleeperAccess::Get() { return gSleeper.load(); }

IQRMIPMISleeper* QRMIPMISleeperAccess::SetForTesting(IQRMIPMISleeper* sleeper)
{
    return gSleeper.exchange(sleeper != nullptr ? sleeper : &gLinuxSleeper);
}
