#ifndef CM_CMBASEUTILS_UPDATEXMLWRITER_H
#define CM_CMBASEUTILS_UPDATEXMLWRITER_H

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "IDeviceXMLWriter.h"

// Writes the update result document (root SVMExecution) for the devices of
// one update run, on one line, to the result file or to standard output.
// One writer serves one document; the file is closed when it is destroyed.
class CUpdateXMLWriter : public IDeviceXMLWriter {
public:
    CUpdateXMLWriter();
    virtual ~CUpdateXMLWriter();

    // outputFile empty, or a file that does not open: standard output.
    // False only when opening the file raised an exception.
    virtual bool GetXML(const std::vector<CDeviceInfo*>& devices, std::string outputFile) override;

    void addXMLHeader();
    void addUpdateHeader();
    void addRebootRequiredStatus(bool rebootRequired);
    void addUpdateFooter();
    void print();

private:
    CUpdateXMLWriter(const CUpdateXMLWriter&) = delete;
    CUpdateXMLWriter& operator=(const CUpdateXMLWriter&) = delete;

    void addDeviceElement(CDeviceInfo* device, const std::string& enumText);
    void addStatus(bool success, CDeviceInfo* device);

    std::ostringstream document;
    std::ofstream fileStream;
};

#endif
