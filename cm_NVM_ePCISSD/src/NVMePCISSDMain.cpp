#include "NVMePCISSDMain.h"

#include <exception>
#include <string>

#include "CommandLineParser.h"
#include "Logger.h"
#include "NVMePCISSDInventory.h"
#include "NVMePCISSDUpdate.h"

#define ZAGO_LOG_UNIT "cm_NVM_ePCISSD/src/NVMePCISSDMain"

int RunNVMePCISSD(int argc, char** argv)
{
    CCommandLineParser parser;
    try {
        if (!parser.parseCLI(argc, argv))
            return 1;

        if (parser.isDebug()) {
            CLogger::GetInstance()->Initialize(parser.getDebugFilename());
            ZLOG("Logger initialized");
        }

        std::string outputFileName;
        if (!parser.getOutputFileName().empty()) {
            outputFileName = parser.getOutputFileName();
            ZLOG("Output file name =" + outputFileName);
        }

        // The inventory front end and its records are gone before the update
        // run starts: each run discovers the controllers anew.
        if (parser.isInventory()) {
            CNVMePCISSDInventory inventory(outputFileName);
            ZLOG("Before CNVMePCISSDInventory.Inventory ");
            inventory.GetInventory();
            ZLOG("After CNVMePCISSDInventory.Inventory ");
        }

        if (parser.isUpdate()) {
            CNVMePCISSDUpdate update(outputFileName);
            ZLOG("Before CNVMePCISSDUpdate.Update ");
            update.Update();
            ZLOG("After CNVMePCISSDUpdate.Update ");
        }
    } catch (const std::exception& e) {
        // Per-device results live in the result document; an unexpected
        // failure of a run is not a command-line error. It is logged, so
        // that a run that stopped early can be told from a finished one.
        ZLOG(std::string("ERROR: main() caught an exception, the run stops here: ") + e.what());
        return 0;
    } catch (...) {
        ZLOG("ERROR: main() caught an unknown exception, the run stops here");
        return 0;
    }
    return 0;
}
