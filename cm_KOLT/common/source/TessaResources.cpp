#include "TessaResources.h"

namespace {

// The drop box is attached and detached as the dynamic partition of row 0.
const unsigned short kDropBoxRow = 0;

void logReleased(const TessaLogSite& site, const TessaReleaseLines& lines, bool released)
{
    const char* line = released ? lines.succeeded : lines.failed;
    if (line != nullptr)
        logTessaMsg(site.file, site.line, line);
}

} // namespace

// ---------------------------------------------------------------------------
// Drop box

ScopedDropBox::ScopedDropBox(secureTessa& client, TessaLogSite site, TessaReleaseLines deleteLines)
    : m_client(client), m_site(site), m_lines(deleteLines)
{
}

ScopedDropBox::~ScopedDropBox()
{
    if (!m_held)
        return;
    m_held = false;
    try {
        logReleased(m_site, m_lines, m_client.DeleteDropBox(0));
    } catch (...) {
    }
}

bool ScopedDropBox::create(unsigned int sizeBytes, unsigned int* grantedBytes)
{
    if (!m_client.CreateDropBox(dynDriveName, sizeBytes, grantedBytes))
        return false;
    m_held = true;
    return true;
}

bool ScopedDropBox::remove()
{
    if (!m_client.DeleteDropBox(0))
        return false;
    m_held = false;
    return true;
}

// ---------------------------------------------------------------------------
// Attachment

ScopedAttachment::ScopedAttachment(secureTessa& client, TessaLogSite site, TessaReleaseLines detachLines)
    : m_client(client), m_site(site), m_lines(detachLines)
{
}

ScopedAttachment::~ScopedAttachment()
{
    if (!m_held)
        return;
    try {
        logReleased(m_site, m_lines, release());
    } catch (...) {
    }
}

bool ScopedAttachment::attachDropBox(unsigned short dynamicWord)
{
    const bool attached = m_client.AttachPartition(0, dynamicWord, kDropBoxRow);
    m_held = true;
    m_dropBox = true;
    m_dynamicWord = dynamicWord;
    return attached;
}

bool ScopedAttachment::attachNumbered(const std::string& label)
{
    if (!m_client.AttachTessaPartition(label))
        return false;
    m_held = true;
    m_dropBox = false;
    m_label = label;
    return true;
}

bool ScopedAttachment::detach()
{
    return m_held && release();
}

bool ScopedAttachment::release()
{
    m_held = false;
    return m_dropBox ? m_client.DetachPartition(0, m_dynamicWord, kDropBoxRow, false)
                     : m_client.DetachTessaPartition(m_label);
}

// ---------------------------------------------------------------------------
// Mount

ScopedDropBoxMount::ScopedDropBoxMount(secureTessa& client, TessaLogSite site, TessaReleaseLines unmountLines)
    : m_client(client), m_site(site), m_lines(unmountLines)
{
}

ScopedDropBoxMount::~ScopedDropBoxMount()
{
    if (!m_held)
        return;
    m_held = false;
    try {
        logReleased(m_site, m_lines, m_client.unmountDynPartition());
    } catch (...) {
    }
}

bool ScopedDropBoxMount::mount()
{
    if (!m_client.mountDynPartition())
        return false;
    m_held = true;
    return true;
}

bool ScopedDropBoxMount::unmount()
{
    m_held = false;
    return m_client.unmountDynPartition();
}
