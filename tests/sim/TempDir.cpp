#include "TempDir.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

// Never destroyed: a TempDir held by a static object may go at exit after
// it.
std::vector<std::string>& registry()
{
    static std::vector<std::string>* folders = new std::vector<std::string>;
    return *folders;
}

} // namespace

std::vector<std::string> liveTempDirs() { return registry(); }

TempDir::TempDir(bool enter)
{
    std::string pattern = "/tmp/zagotest.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = buffer.data();
    registry().push_back(m_path);
    if (enter) {
        m_previous = std::filesystem::current_path().string();
        std::filesystem::current_path(m_path);
    }
}

TempDir::~TempDir()
{
    std::vector<std::string>& folders = registry();
    const auto self = std::find(folders.begin(), folders.end(), m_path);
    if (self != folders.end())
        folders.erase(self);
    std::error_code ec;
    if (!m_previous.empty())
        std::filesystem::current_path(m_previous, ec);
    std::filesystem::remove_all(m_path, ec);
}

void TempDir::write(const std::string& name, const std::string& content) const
{
    std::filesystem::path p(file(name));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string TempDir::read(const std::string& name) const { return readWholeFile(file(name)); }

bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}
