#include "InventoryXMLWriter.h"

#include "Logger.h"
#include "ResultDocumentOutput.h"

#define ZAGO_LOG_UNIT "cm_CMBaseUtils/src/InventoryXMLWriter"

CInventoryXMLWriter::CInventoryXMLWriter()
{
    ZLOG("CInventoryXMLWriter::CInventoryXMLWriter() In Constructor Method");
}

CInventoryXMLWriter::~CInventoryXMLWriter()
{
    ZLOG("CInventoryXMLWriter::CInventoryXMLWriter() In Destructor Method");
}

bool CInventoryXMLWriter::GetXML(const std::vector<CDeviceInfo*>& devices, std::string outputFile)
{
    ZLOG("CInventoryXMLWriter::GetXML() Entering");
    m_deliveryError.clear();
    if (!outputFile.empty()) {
        std::string error;
        bool opened = false;
        try {
            opened = resultFile.Open(outputFile, error);
        } catch (const std::exception& e) {
            ZLOG(std::string("CInventoryXMLWriter::GetXML() exception caught during file opening ") + e.what());
            return false;
        }
        ZLOG("CInventoryXMLWriter::GetXML() udpate xml file opened");
        if (!opened)
            ZLOG("ERROR: CInventoryXMLWriter::GetXML() " + error);
    }

    addXMLHeader();
    addInventoryHeader();

    for (CDeviceInfo* device : devices) {
        std::string enumId = device->getEnumId();
        std::string enumText = enumId.empty() ? std::string() : "enum = \"" + XMLEscape(enumId) + "\" ";
        int status = device->getStatus();
        CDeviceInfo::eDeviceType type = device->getDeviceType();

        if (type == CDeviceInfo::NON_PCI_DEVICE && status == 0) {
            ZLOG("CInventoryXMLWriter::GetXML() Found one Non PCI Device");
            document << "<Device  componentID=\"" << XMLEscape(device->getComponentID()) << "\" display=\""
                     << XMLEscape(device->getDisplay()) << "\" " << enumText << ">"
                     << "<Application componentType=\"" << XMLEscape(device->getComponentType())
                     << "\" version=\"" << XMLEscape(device->getVersion()) << "\" display=\""
                     << XMLEscape(device->getDeviceName()) << "\"/>"
                     << "</Device>";
        } else if (type == CDeviceInfo::PCI_DEVICE && status == 0) {
            ZLOG("CInventoryXMLWriter::GetXML() Found one PCI Device");
            SPCIInfo pci = device->getPCIInfo();
            document << "<Device  vendorID=\"" << XMLEscape(pci.vendorID) << "\" deviceID=\""
                     << XMLEscape(pci.deviceID) << "\" subVendorID=\"" << XMLEscape(pci.subVendorID)
                     << "\" subDeviceID=\"" << XMLEscape(pci.subDeviceID) << "\"  display=\""
                     << XMLEscape(device->getDisplay()) << "\" " << enumText << ">"
                     << "<Application componentType=\"" << XMLEscape(device->getComponentType())
                     << "\"  version=\"" << XMLEscape(device->getVersion()) << "\"  display=\""
                     << XMLEscape(device->getDeviceName()) << "\"/>"
                     << "</Device>";
        } else if (status != 0) {
            ZLOG("CInventoryXMLWriter::GetXML() Update failed for one Device");
            document << "<SPStatus result =\"false\" ><Message id=\"" << device->getMessageID() << "\" >"
                     << XMLEscape(device->getErrorMsg()) << "</Message></SPStatus>";
        }
    }

    addInventoryFooter();
    documentCopy = document.str();
    print();
    ZLOG("CInventoryXMLWriter::GetXML() Exiting");
    // A document that did not reach the result file (or standard output)
    // must not pass for a finished run.
    if (!m_deliveryError.empty())
        throw CResultDocumentError(m_deliveryError);
    return true;
}

void CInventoryXMLWriter::addXMLHeader()
{
    ZLOG("CInventoryXMLWriter::addXMLHeader() In addXMLHeader Method");
    document << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
}

void CInventoryXMLWriter::addInventoryHeader()
{
    ZLOG("CInventoryXMLWriter::addInventoryHeader() In addInventoryHeader Method");
    document << "<SVMInventory lang=\"en\">";
}

void CInventoryXMLWriter::addInventoryFooter()
{
    ZLOG("CInventoryXMLWriter::addInventoryFooter() In addInventoryFooter Method");
    document << "</SVMInventory>";
}

void CInventoryXMLWriter::print()
{
    ZLOG("CInventoryXMLWriter::print() Entering");
    std::string error;
    bool delivered = false;
    try {
        delivered = resultFile.Deliver(document.str(), error);
    } catch (const std::exception& e) {
        ZLOG(std::string("CInventoryXMLWriter::GetXML() exception caught during file is_open function ") + e.what());
        m_deliveryError = std::string("writing the document failed: ") + e.what();
        return;
    }
    if (!delivered) {
        ZLOG("ERROR: CInventoryXMLWriter::print() " + error);
        m_deliveryError = error;
    } else if (resultFile.ToFile()) {
        ZLOG("CInventoryXMLWriter::print() copying the contents to Inventory XML file");
    }
    document.str("");
    ZLOG("CInventoryXMLWriter::print() Exiting");
}
