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
// /tmp is private from the start: a fresh tmpfs in which only the folders
// of the machine's /tmp the test process already uses keep their paths
// (bound: the working folder, the source and build trees, the folders of
// live TempDir objects). What the test and the code under test make,
// remove or follow in /tmp ("/tmp/<label>" mount folders, the scratch
// folder, later TempDirs) stays inside, and nothing else of the machine's
// /tmp, another user's files included, is seen.
//
// Needs root (CAP_SYS_ADMIN). A process that cannot get the namespace fails
// the test: the constructor records a gtest failure and throws, so the test
// never goes on against the real host.
//
// Files directly in "/" ("/VERSION", "/rvx-version") cannot get an overlay
// of their own: for them the process moves into a private root on first
// use, a folder in the temporary folder that holds a bind of each of the
// host's top-level entries, so everything else reads as before while "/"
// itself becomes writable. The old root comes back with the object's end.
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
    void writeFile(const std::string& path, const std::string& content);
    void makeDirectory(const std::string& path);
    // Removes a file, link or folder tree (in an overlay: hides the host's).
    void remove(const std::string& path);

    // The simple way to stage a host: a file (a release file, a fake tool
    // with mode 0755) at the absolute `path`, making its folder writable
    // first (an overlay, or the private root for "/").
    void putFile(const std::string& path, const std::string& content, unsigned int mode = 0644);
    // An empty, writable folder at the absolute `path` (a private udev rule
    // folder): a fresh folder bound over an existing one, or a new one.
    void emptyFolder(const std::string& path);
    // A small disk: a fresh tmpfs of `bytes` (whole pages) mounted on a new
    // folder of the temporary folder; returns that folder. A test fills it
    // to see a write fail with ENOSPC, or makes it read-only.
    std::string smallDisk(size_t bytes);
    void makeReadOnly(const std::string& disk);
    // Takes up whatever room `disk` has left with a file named "filler".
    void fill(const std::string& disk);

    // The temporary folder holding the upper layers and bound files.
    const std::string& scratch() const { return m_scratch; }

    // The view from the mount namespace this object started from (the
    // host's), taken by a child process that re-enters it: whether `path`
    // exists there, and its content (false when it cannot be read).
    bool existsOutside(const std::string& path) const;
    bool readOutside(const std::string& path, std::string& content) const;
    // What stands at `path` there, links not followed: empty when nothing
    // does, else its kind, owner and inode (and a link's target). Taken
    // before and after a run, it shows the run left the machine's path as
    // it found it, whatever was there.
    std::string lookOutside(const std::string& path) const;

private:
    [[noreturn]] void fail(const std::string& message) const;
    // Runs `look` in a child that re-entered the outer namespace; what it
    // writes to the descriptor it is given is returned, and whether it
    // exited with 0 (1: not there) in `found`.
    std::string askOutside(const char* caller, int (*look)(const std::string& path, int out), const std::string& path,
                           bool& found) const;
    void makePrivateTmp();
    std::string writableCanonical(const std::string& path) const;
    // The same without failing: empty when `path` may not be written.
    std::string resolveWritable(const std::string& path, std::string& why) const;
    // Moves into the private root when `path` lies directly in "/" or below
    // a top-level name the host lacks.
    void rootFor(const std::string& path);
    void enterPrivateRoot();
    void leavePrivateRoot();
    static std::string canonicalDirectory(const std::string& directory);

    std::string m_scratch;
    int m_outerNamespace = -1;
    std::vector<std::string> m_tmpMounts;     // the private /tmp, then its binds
    std::vector<std::string> m_mounts;        // mount points, in mounting order
    std::vector<std::string> m_writableRoots; // canonical overlay / temp bind targets
    std::vector<std::string> m_hostBinds;     // targets showing a host folder: never written
    int m_layers = 0;

    // The private root, once entered.
    std::string m_root;                       // its folder (a host path)
    int m_hostRoot = -1;                      // the host's root, to return to
    std::vector<std::string> m_rootBinds;     // host paths of the top-level binds
    std::vector<std::string> m_hostTopLevel;  // names of the host's top-level entries
    size_t m_mountsBeforeRoot = 0;            // m_mounts made before entering it
};

#endif
