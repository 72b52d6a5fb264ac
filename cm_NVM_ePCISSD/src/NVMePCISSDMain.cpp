#include "CommandLineParser.h"
#include "Logger.h"

#define ZAGO_LOG_UNIT "cm_NVM_ePCISSD/src/NVMePCISSDMain"

int main(int argc, char** argv)
{
    CCommandLineParser parser;
    try {
        if (!parser.parseCLI(argc, argv))
            return 1;
        if (parser.isDebug()) {
            CLogger::GetInstance()->Initialize(parser.getDebugFilename());
            ZLOG("Logger initialized");
        }
    } catch (...) {
        return 0;
    }
    return 0;
}
