#ifndef CM_CMBASEUTILS_COMMANDLINEPARSER_H
#define CM_CMBASEUTILS_COMMANDLINEPARSER_H

#include <string>

extern const char* const kUsageText;

class CCommandLineParser {
public:
    CCommandLineParser();
    virtual ~CCommandLineParser();

    bool parseCLI(int argc, char** argv);
    void printUsage();

    std::string getDebugFilename() { return m_debugFileName; }
    std::string getOutputFileName() { return m_outputFileName; }
    bool isForceMode() { return m_force; }
    bool isDebug() { return m_debug; }
    bool isInventory() { return m_inventory; }
    bool isUpdate() { return m_update; }
    bool isVerify() { return m_verify; }

private:
    std::string m_debugFileName;
    std::string m_outputFileName;
    bool m_force;
    bool m_debug;
    bool m_inventory;
    bool m_update;
    bool m_verify;
    int m_nextArg;
};

#endif
