#ifndef CM_CMBASEUTILS_INVENTORYXMLWRITER_H
#define CM_CMBASEUTILS_INVENTORYXMLWRITER_H

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "IDeviceXMLWriter.h"

// Writes the inventory document (root SVMInventory) for the devices of one
// inventory run, on one line, to the result file or to standard output.
// One writer serves one document; the file is closed when it is destroyed.
class CInventoryXMLWriter : public IDeviceXMLWriter {
public:
    CInventoryXMLWriter();
    virtual ~CInventoryXMLWriter();

    // outputFile empty, or a file that does not open: standard output.
    // False only when opening the file raised an exception.
    virtual bool GetXML(const std::vector<CDeviceInfo*>& devices, std::string outputFile) override;

    void addXMLHeader();
    void addInventoryHeader();
    void addInventoryFooter();
    void print();

private:
    CInventoryXMLWriter(const CInventoryXMLWriter&) = delete;
    CInventoryXMLWriter& operator=(const CInventoryXMLWriter&) = delete;

    std::ostringstream document;
    std::ofstream fileStream;
    std::string documentCopy;
};

#endif
