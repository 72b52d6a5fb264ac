#include "CommandLineParser.h"

#include <cstring>
#include <iostream>

#include "Logger.h"
#include "PlatformLayer.h"

// The text names "-debug" and "-s", which are not accepted words; operators'
// scripts compare it byte for byte, so it stays as it is.
const char* const kUsageText =
    "\n"
    "Usage: -h\n"
    "\tProvides detailed help information\n"
    "\n"
    "Usage: -i [-o <output filename>] [-debug]\n"
    "\tProvides inventory information of all identified devices.\n"
    "\t-o Specifies the output filename.\n"
    "\t-d Specifies to create a debug log file.\n"
    "\n"
    "Usage: -u [-s <image folder>] [-f] [-o <output filename>] [-debug [filename]]\n"
    "===========================================================================\n";

CCommandLineParser::CCommandLineParser()
    : m_debugFileName("debug.log"),
      m_force(false),
      m_debug(false),
      m_inventory(false),
      m_update(false),
      m_verify(false),
      m_nextArg(1)
{
}

CCommandLineParser::~CCommandLineParser() {}

void CCommandLineParser::printUsage()
{
    std::cout << kUsageText;
}

bool CCommandLineParser::parseCLI(int argc, char** argv)
{
    if (argc <= 1 || argv == nullptr) {
        printUsage();
        return false;
    }

    std::string defaultDebugName;
    while (m_nextArg < argc) {
        const char* raw = argv[m_nextArg];
        const std::string word = raw ? raw : "";
        int consumed = 1;
        if (word == "-u") {
            m_update = true;
            defaultDebugName = "debug_update.log";
        } else if (word == "-h") {
            printUsage();
            return true;
        } else if (word == "-o") {
            if (m_nextArg + 1 >= argc || argv[m_nextArg + 1] == nullptr) {
                printUsage();
                return false;
            }
            m_outputFileName = argv[m_nextArg + 1];
            consumed = 2;
        } else if (word == "-i") {
            m_inventory = true;
            defaultDebugName = "debug_inv.log";
        } else if (word == "-f") {
            m_force = true;
        } else if (word == "-d") {
            CPlatformLayer::CreateEmptyZORDebuLogFile();
            m_debugFileName = defaultDebugName;
            m_debug = true;
            if (m_nextArg + 1 >= argc || argv[m_nextArg + 1] == nullptr) {
                m_nextArg = argc;
                return true;
            }
            const char* following = argv[m_nextArg + 1];
            if (following[0] != '-') {
                m_debugFileName = following;
                consumed = 2;
            }
        } else if (word == "-v") {
            m_verify = true;
        } else {
            printUsage();
            return false;
        }
        m_nextArg += consumed;
    }

    if (m_debug)
        return true;
    if (CPlatformLayer::IsFileExits(strEnableLogFileName)) {
        m_debugFileName = defaultDebugName;
        m_debug = true;
    }
    return true;
}
