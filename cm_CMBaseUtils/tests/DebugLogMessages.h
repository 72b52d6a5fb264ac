#ifndef CM_CMBASEUTILS_TESTS_DEBUGLOGMESSAGES_H
#define CM_CMBASEUTILS_TESTS_DEBUGLOGMESSAGES_H

#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"

// The messages of the test's "debug.log", without the time stamp and the
// source columns: "[stamp] : <unit>:<line>: <message>".
inline std::vector<std::string> logMessages(const TempDir& dir)
{
    std::vector<std::string> out;
    std::istringstream in(dir.read("debug.log"));
    std::string line;
    while (std::getline(in, line)) {
        std::string::size_type stamp = line.find("] : ");
        if (stamp == std::string::npos)
            continue;
        std::string::size_type unitEnd = line.find(':', stamp + 4);
        std::string::size_type lineEnd = unitEnd == std::string::npos ? unitEnd : line.find(": ", unitEnd + 1);
        if (lineEnd != std::string::npos)
            out.push_back(line.substr(lineEnd + 2));
    }
    return out;
}

#endif
