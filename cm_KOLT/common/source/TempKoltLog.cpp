#include <cstdio>
#include <string>
void logTessaMsg(const char* sourceFile, unsigned int line, std::string message)
{
    std::fprintf(stderr, "%s:%u: %s\n", sourceFile, line, message.c_str());
}
