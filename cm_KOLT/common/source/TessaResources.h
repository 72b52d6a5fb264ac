#ifndef CM_KOLT_TESSARESOURCES_H
#define CM_KOLT_TESSARESOURCES_H

// Scoped owners of what a transaction of the client holds on the controller
// and the host: the drop box, an attached partition, the mounted drop box.
// Each gives back what it still holds when its scope ends, however the scope
// ends, so an error path is only its error number. Declared in the order the
// resources are taken, they are given back in the opposite order: the
// attachment is detached before the drop box is deleted.
//
// Where a path deliberately leaves a resource behind (a drop box handed to
// the caller, one the controller would not detach), the transaction says so
// with keep(). Giving back never throws; a release that fails is logged with
// the lines the owner was given, under the unit and line that made it, so
// the log reads as that transaction's own.

#include <string>

#include "SecureTessa.h"

// Where an owner's lines are logged from.
struct TessaLogSite {
    const char* file;
    unsigned int line;
};
#define TESSA_SITE (TessaLogSite{__FILE__, __LINE__})

// What a release on the way out logs when it succeeded and when it failed;
// null for no line.
struct TessaReleaseLines {
    const char* succeeded;
    const char* failed;
};

// The drop box "SECUPD" (row 0 of the partition table): created, then
// deleted on the way out unless it was deleted or kept before.
class ScopedDropBox {
public:
    ScopedDropBox(secureTessa& client, TessaLogSite site, TessaReleaseLines deleteLines);
    ~ScopedDropBox();
    ScopedDropBox(const ScopedDropBox&) = delete;
    ScopedDropBox& operator=(const ScopedDropBox&) = delete;

    // CreateDropBox; held from the controller's yes on, whatever size it
    // granted.
    bool create(unsigned int sizeBytes, unsigned int* grantedBytes);
    // Deletes it now (DeleteDropBox of row 0). Held still when the controller
    // refused, so that the way out asks once more.
    bool remove();
    // Leaves it on the controller: for the caller, or for the next session
    // start, which deletes a drop box an earlier run left.
    void keep() { m_held = false; }

private:
    secureTessa& m_client;
    TessaLogSite m_site;
    TessaReleaseLines m_lines;
    bool m_held = false;
};

// One attachment: the drop box (by its dynamic word) or a numbered partition
// (by its label), detached on the way out unless detached before.
class ScopedAttachment {
public:
    ScopedAttachment(secureTessa& client, TessaLogSite site, TessaReleaseLines detachLines);
    ~ScopedAttachment();
    ScopedAttachment(const ScopedAttachment&) = delete;
    ScopedAttachment& operator=(const ScopedAttachment&) = delete;

    // AttachPartition of the drop box's wire-ordered dynamic word. Held once
    // asked, also when the attach reports failure: it may have got as far as
    // exposing the disk before a mount gave up. An exception (65, usb-storage
    // block-listed) comes before any request and holds nothing.
    bool attachDropBox(unsigned short dynamicWord);
    // AttachTessaPartition by label; held only when it succeeded (a failed
    // one has detached what it attached).
    bool attachNumbered(const std::string& label);
    // Detaches now. A detach is asked once: refused, it is not asked again on
    // the way out.
    bool detach();

private:
    bool release();

    secureTessa& m_client;
    TessaLogSite m_site;
    TessaReleaseLines m_lines;
    bool m_held = false;
    bool m_dropBox = false;
    unsigned short m_dynamicWord = 0;
    std::string m_label;
};

// The drop box mounted on the host by the client itself (mountDynPartition),
// unmounted on the way out unless unmounted or kept before. The unmount
// removes the mount folder only once nothing is mounted on it.
class ScopedDropBoxMount {
public:
    ScopedDropBoxMount(secureTessa& client, TessaLogSite site, TessaReleaseLines unmountLines);
    ~ScopedDropBoxMount();
    ScopedDropBoxMount(const ScopedDropBoxMount&) = delete;
    ScopedDropBoxMount& operator=(const ScopedDropBoxMount&) = delete;

    bool mount();
    // Unmounts now; asked once, whatever it answers.
    bool unmount();
    // Leaves it mounted.
    void keep() { m_held = false; }

private:
    secureTessa& m_client;
    TessaLogSite m_site;
    TessaReleaseLines m_lines;
    bool m_held = false;
};

#endif
