#include "UmockdevRun.h"

EmulatedRun RunUnderUmockdev(const std::string& root, const std::string& executable,
                             const std::vector<std::string>& args, const std::string& workDir,
                             int timeoutSeconds)
{
    LaunchRequest request;
    request.executable = executable;
    request.args = args;
    request.workDir = workDir;
    request.umockdevRoot = root;
    request.timeoutSeconds = timeoutSeconds;
    return launchIsolated(request);
}
