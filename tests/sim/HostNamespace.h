#ifndef TESTS_SIM_HOSTNAMESPACE_H
#define TESTS_SIM_HOSTNAMESPACE_H

#include <string>
#include <vector>

// Gives the current test process a private mount namespace, so a test can
// put files at the real absolute paths the production code reads
// ("/etc/vmware-release", "/lib/modules/<release>/modules.builtin", ...)
// without touching the machine: system directories get a writable overlay
// whose upper layer lives in a temporary folder, and temporary files or
// folders can be bind-mounted over existing paths. Nothing is ever written
// to the real host; the mounts die with the process and are detached (and
// the temporary folder removed) when the object goes away.
//
// Needs root (CAP_SYS_ADMIN). A process that cannot get the namespace fails
// the test: the constructor records a gtest failure and throws, so the test
// never goes on against the real host.
//
// unshare() moves only the calling thread: create the object before the
// test starts any thread (threads started later inherit the namespace).
class HostNamespace {
public:
    HostNamespace();
    ~HostNamespace();
    HostNamespace(const HostNamespace&) = delete;
    HostNamespace& operator=(const HostNamespace&) = delete;

    // Makes the absolute `directory` writable inside the namespace: an
    // overlay (lower layer: the host's directory) is mounted over it. A
    // directory the host lacks is created inside an overlay of its nearest
    // existing ancestor (never "/"). Symbolic links in the name are followed
    // ("/lib" -> "/usr/lib").
    void overlay(const std::string& directory);

    // Bind-mounts `source` over the existing `target` (file over file,
    // folder over folder). Writes below a target are only allowed when the
    // source lies in this object's temporary folder.
    void bind(const std::string& source, const std::string& target);
    // Writes `content` to a fresh file in the temporary folder and binds it
    // over the existing file `target` (a fake tool, a replaced config file);
    // `mode` is applied to the fresh file.
    void bindFile(const std::string& target, const std::string& content, unsigned int mode = 0644);

    // Files at absolute paths below an overlay or a writable bind target;
    // anything else fails the test and throws. Missing parent folders are
    // created; an existing symbolic link at `path` is replaced, never
    // followed.
    void writeFile(const std::string& path, const std::string& content, unsigned int mode = 0644);
    void makeDirectory(const std::string& path);
    // Removes a file, link or folder tree (in an overlay: hides the host's).
    void remove(const std::string& path);

    // Makes names directly below "/" writable ("/VERSION"): the process gets a
    // new root, a tmpfs holding a recursive bind of every entry of the host's
    // root, so the rest of the tree looks and behaves as before. Only names
    // the host's root lacks can then be written there; the host's own entries
    // stay the host's (overlay them to change what lies inside). The old root
    // and working directory come back when the object goes away.
    void writableRoot();

    // The simple way to stage a host: a file (a release file, a fake tool
    // with mode 0755) at the absolute `path`, making its folder writable
    // first (an overlay, or the new root for "/").
    void putFile(const std::string& path, const std::string& content, unsigned int mode = 0644);
    // An empty, writable folder at the absolute `path` (a private udev rule
    // folder): a fresh folder bound over an existing one, or a new one.
    void emptyFolder(const std::string& path);

    // The temporary folder holding the upper layers and bound files.
    const std::string& scratch() const { return m_scratch; }

    // The view from the mount namespace this object started from (the
    // host's), taken by a child process that re-enters it: whether `path`
    // exists there, and its content (false when it cannot be read).
    bool existsOutside(const std::string& path) const;
    bool readOutside(const std::string& path, std::string& content) const;

private:
    [[noreturn]] void fail(const std::string& message) const;
    std::string writableCanonical(const std::string& path) const;
    static std::string canonicalDirectory(const std::string& directory);

    std::string m_scratch;
    int m_outerNamespace = -1;
    std::vector<std::string> m_mounts;        // mount points, in mounting order
    std::vector<std::string> m_writableRoots; // canonical overlay / temp bind targets
    std::vector<std::string> m_hostBinds;     // targets showing a host folder: never written
    int m_layers = 0;
    // writableRoot(): the new root (a path of the old root), the host's root
    // entries bound into it, how many of m_mounts were made before it, and
    // the old root and working directory to return to.
    std::string m_newRoot;
    std::vector<std::string> m_rootEntries;
    size_t m_mountsBeforeRoot = 0;
    int m_outerRoot = -1;
    int m_outerCwd = -1;
};

#endif
