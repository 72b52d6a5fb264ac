#ifndef CM_KOLT_TESSAPATH_H
#define CM_KOLT_TESSAPATH_H

// A place on one of the management controller's partitions, as the staging
// queue and the request document name it: the partition, then one name per
// level inside it. It is built and checked here and nowhere else; whatever
// copies to such a place, removes, verifies or lists it in the request
// document renders its text from here.
//
// A staged destination reads
//
//     partition "/" name { "/" name }
//
// "tes022/1234/current/fw.bin" is fw.bin in the folder 1234/current of the
// partition tes022 (row 22); "/payload/fw.bin" is payload/fw.bin in the drop
// box, whose partition name is left empty. Two shorter forms stand as the
// request document has them: a text without "/" ("package.xml") is that one
// name in the root of the partition that receives it, and is at the same
// time the first component a partition-row lookup reads; the empty text is
// that root itself.
//
// Only "/" separates on input. Every name is checked: none is empty, "." or
// "..", and none holds a backslash (the listings of a mounted partition and
// the controller read it as a separator, and a FAT volume refuses it in a
// name) or a NUL byte (the host would end the path there). The partition's
// own name is never a folder on the host (the mount point stands for it); it
// is only looked up, so it may be empty and only those two characters are
// refused in it.

#include <optional>
#include <string>
#include <vector>

class TessaPath {
public:
    // Why a text names no place on a partition.
    enum class Fault { none, emptyName, dotName, parentName, separator, nulByte };

    // The place a staged text names, or nothing, with the reason in *why.
    static std::optional<TessaPath> parse(const std::string& text, Fault* why = nullptr);
    // The place of `names` (one per level, at least one) on the partition
    // named `partition` (empty: the drop box), or nothing, with the reason
    // in *why, when one of them cannot be a name there.
    static std::optional<TessaPath> on(const std::string& partition, const std::vector<std::string>& names,
                                       Fault* why = nullptr);
    // True when `text` can be one name on a partition.
    static bool isName(const std::string& text);
    // What a partition-row lookup reads of any text, checked or not: the
    // text before its first "/", all of it when it has none.
    static std::string firstComponentOf(const std::string& text);
    // The reason as a log line shows it ("a \"..\" name").
    static const char* describe(Fault fault);

    // The destination as queued: "tes022/1234/current/fw.bin".
    std::string text() const;
    // The first component: "tes022", empty for the drop box, the name
    // itself for a text without "/".
    std::string partitionName() const;
    // The path inside the partition, without its first component:
    // "1234/current/fw.bin"; the name itself for a text without "/".
    std::string inPartition() const;
    // The path under the partition's mount point (which ends in "/").
    std::string under(const std::string& mountPoint) const;
    // Every folder above the last name, outermost first, each as its path
    // inside the partition: "1234", then "1234/current".
    std::vector<std::string> folders() const;
    // The entry `name` in the root of the same partition ("tes022/package.xml"
    // beside "tes022/pkg/archive.zip"; "package.xml" beside a text without
    // "/"), or nothing when `name` cannot be a name there.
    std::optional<TessaPath> inRoot(const std::string& name) const;

private:
    TessaPath() = default;

    // False for the two shorter forms.
    bool m_hasPartition = false;
    std::string m_partition;
    std::vector<std::string> m_names;
};

#endif
