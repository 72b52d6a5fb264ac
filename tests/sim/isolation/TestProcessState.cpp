#include "TestProcessState.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "LinuxImpl.h"
#include "Logger.h"
#include "PlatformLayer.h"

namespace {

std::vector<void (*)()>& resets()
{
    static std::vector<void (*)()> all;
    return all;
}

class ResetBeforeEachTest : public testing::EmptyTestEventListener {
    // Runs before the fixture is built, so a fixture's own set-up wins.
    void OnTestStart(const testing::TestInfo&) override
    {
        for (void (*reset)() : resets())
            reset();
    }
};

const std::string& startDirectory()
{
    static const std::string directory = [] {
        char buffer[4096];
        return getcwd(buffer, sizeof(buffer)) != nullptr ? std::string(buffer) : std::string();
    }();
    return directory;
}

void resetBaseUtilities()
{
    // A test's temporary working directory may be gone by now.
    const std::string directory = startDirectory();
    if (!directory.empty() && chdir(directory.c_str()) != 0)
        ADD_FAILURE() << "cannot return to " << directory << ": " << std::strerror(errno);

    // The next Initialize opens the test's own log.
    CLogger::GetInstance()->CloseHandle();

    // The layer's own Linux implementation, so that a fake a test forgot to
    // take out is never called after its end.
    CPlatformLayer::SetForTesting(nullptr);
    CLinuxImpl::bUSBDriverNotLoaded = false;
    CLinuxImpl::bUSBDriverLoadedByZOR = false;
    CLinuxImpl::bUSBBlocklistCheckDone = false;
    CLinuxImpl::bZEMOAlreadyInstalled = false;
    CLinuxImpl::nZEMOInstallRefCount = 0;
}

// Where the executable started, before any test moved.
[[maybe_unused]] const std::string& started = startDirectory();
[[maybe_unused]] const bool registered = resetBeforeEachTest(&resetBaseUtilities);

} // namespace

bool resetBeforeEachTest(void (*reset)())
{
    if (resets().empty())
        testing::UnitTest::GetInstance()->listeners().Append(new ResetBeforeEachTest);
    resets().push_back(reset);
    return true;
}
