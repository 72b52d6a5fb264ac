#include "ResultDocumentOutput.h"

#include <exception>
#include <iostream>

bool OpenResultFile(std::ofstream& file, const std::string& fileName, std::string& error)
{
    try {
        file.open(fileName.c_str(), std::ios::out | std::ios::trunc);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

bool WriteResultText(std::ofstream& file, const std::string& text, bool& toFile, std::string& error)
{
    try {
        toFile = file.is_open();
        if (toFile)
            file << text;
        else
            std::cout << text;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}
