#include <sys/stat.h>
#include <fstream>
#include <string>
void logTessaMsg(const char* sourceFile, unsigned int line, std::string message)
{
    struct stat info;
    if (stat("zordebuglog", &info) != 0)
        return;
    std::string path = sourceFile;
    std::ofstream out("KOLT_DBG.log", std::ios::app);
    out << "[t] : " << path.substr(path.rfind('/') + 1) << ":" << line << ": " << message << "\n";
}
