#ifndef CM_CMBASEUTILS_INVENTORYXMLWRITER_H
#define CM_CMBASEUTILS_INVENTORYXMLWRITER_H

#include <sstream>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "IDeviceXMLWriter.h"
#include "ResultDocumentOutput.h"

// Writes the inventory document (root SVMInventory) for the devices of one
// inventory run, on one line, to the result file or to standard output.
// One writer serves one document.
class CInventoryXMLWriter : public IDeviceXMLWriter {
public:
    CInventoryXMLWriter();
    virtual ~CInventoryXMLWriter();

    // outputFile empty: standard output. The result file is replaced only
    // by a complete document; when it cannot be written the document goes
    // to standard output and GetXML throws CResultDocumentError, as it does
    // when standard output cannot take the document. False only when
    // preparing the file raised another exception.
    virtual bool GetXML(const std::vector<CDeviceInfo*>& devices, std::string outputFile) override;

    void addXMLHeader();
    void addInventoryHeader();
    void addInventoryFooter();
    void print();

private:
    CInventoryXMLWriter(const CInventoryXMLWriter&) = delete;
    CInventoryXMLWriter& operator=(const CInventoryXMLWriter&) = delete;

    std::ostringstream document;
    CResultDocumentOutput resultFile;
    // Why the last document did not reach its place; empty when it did.
    std::string m_deliveryError;
    std::string documentCopy;
};

#endif
