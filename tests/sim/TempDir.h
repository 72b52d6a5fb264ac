#ifndef TESTS_SIM_TEMPDIR_H
#define TESTS_SIM_TEMPDIR_H

#include <string>
#include <vector>

// A fresh directory under /tmp that the test makes its working directory;
// removed (with its contents) when the object goes away.
class TempDir {
public:
    explicit TempDir(bool enter = true);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

    void write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

private:
    std::string m_path;
    std::string m_previous;
};

// The folders of the TempDir objects alive now, oldest first: a private
// /tmp made later keeps them at their paths.
std::vector<std::string> liveTempDirs();

// Whole file as a string; empty when it cannot be read.
std::string readWholeFile(const std::string& path);

#endif
