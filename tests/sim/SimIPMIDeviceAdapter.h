#ifndef ZAGO_SIM_SIMIPMIDEVICEADAPTER_H
#define ZAGO_SIM_SIMIPMIDEVICEADAPTER_H

// Puts a SimManagementController behind the IPMI library's device seam, and
// records the library's pauses. Header-only: only test programs that link
// the IPMI library include it.

#include <cerrno>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "QRMIPMIDeviceAccess.h"
#include "ScopedSeam.h"
#include "SimManagementController.h"

class SimIPMIDevice : public IQRMIPMIDevice {
public:
    // Outcomes a wait can have besides the model's own answer state.
    enum WaitOutcome { WaitError = -1, WaitEventNotReadable = 2 };

    explicit SimIPMIDevice(SimManagementController& controller) : mController(controller) {}

    // Device nodes that exist; "/dev/ipmi0" unless told otherwise.
    std::set<std::string> existingPaths{"/dev/ipmi0"};
    int fdToHand = 7;

    // Forced outcomes for the next waits, consumed in order.
    std::deque<int> waitScript;

    std::vector<std::string> openedPaths;       // every open attempt
    std::vector<int> closedFds;
    std::vector<struct timespec> waitTimeouts;  // every wait
    int receives = 0;

    int Open(const char* path) override
    {
        std::lock_guard<std::mutex> lock(mMutex);
        openedPaths.push_back(path);
        if (existingPaths.count(path) == 0) {
            errno = ENOENT;
            return -1;
        }
        return fdToHand;
    }

    int SendCommand(int fd, struct ipmi_req* request) override
    {
        if (!CheckFd(fd))
            return -1;
        return mController.Send(request);
    }

    int WaitReadable(int fd, const struct timespec& timeout, bool& readable) override
    {
        readable = false;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            waitTimeouts.push_back(timeout);
            if (!waitScript.empty()) {
                int outcome = waitScript.front();
                waitScript.pop_front();
                if (outcome == WaitError) {
                    errno = EINTR;
                    return -1;
                }
                return 1;   // an event, but not a readable one
            }
        }
        if (!CheckFd(fd))
            return -1;
        if (!mController.HasPendingAnswer())
            return 0;   // the time-out passed
        readable = true;
        return 1;
    }

    int ReceiveMessage(int fd, struct ipmi_recv* answer) override
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            ++receives;
        }
        if (!CheckFd(fd))
            return -1;
        return mController.Receive(answer);
    }

    int Close(int fd) override
    {
        std::lock_guard<std::mutex> lock(mMutex);
        closedFds.push_back(fd);
        return 0;
    }

private:
    bool CheckFd(int fd)
    {
        if (fd != fdToHand) {
            errno = EBADF;
            return false;
        }
        return true;
    }

    SimManagementController& mController;
    std::mutex mMutex;
};

// Records pauses instead of taking them.
class SimIPMISleepRecorder : public IQRMIPMISleeper {
public:
    std::vector<unsigned int> seconds;
    std::vector<unsigned long long> milliseconds;

    void SleepSeconds(unsigned int s) override
    {
        std::lock_guard<std::mutex> lock(mMutex);
        seconds.push_back(s);
    }
    void SleepMilliseconds(unsigned long long ms) override
    {
        std::lock_guard<std::mutex> lock(mMutex);
        milliseconds.push_back(ms);
    }

private:
    std::mutex mMutex;
};

// Installs a device and a sleep recorder for the lifetime of a scope.
class SimIPMISeamGuard {
public:
    SimIPMISeamGuard(IQRMIPMIDevice* device, IQRMIPMISleeper* sleeper) : mDevice(device), mSleeper(sleeper) {}

private:
    ScopedSeam<QRMIPMIDeviceAccess> mDevice;
    ScopedSeam<QRMIPMISleeperAccess> mSleeper;
};

#endif
