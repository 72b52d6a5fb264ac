#include "SecureTessa.h"

#include <signal.h>

#include <cstring>

bool CSignalHandler::setupSignalHandlers()
{
    TESSA_LOG("Inside CSignalHandler::setupSignalHandlers()");
    // An interrupt in the middle of a partition hand-over would leave the
    // controller with a session and attached partitions: it is ignored for
    // the rest of the process.
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = SIG_IGN;
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGINT, &action, nullptr) != 0) {
        TESSA_LOG("CSignalHandler::setupSignalHandlers() : signal is failed");
        return false;
    }
    return true;
}
