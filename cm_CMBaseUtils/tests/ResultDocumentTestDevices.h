#ifndef CM_CMBASEUTILS_TESTS_RESULTDOCUMENTTESTDEVICES_H
#define CM_CMBASEUTILS_TESTS_RESULTDOCUMENTTESTDEVICES_H

// Test-only: the device record the result document writers' tests start from.

#include <memory>

#include "DeviceInfo.h"

// A PCI controller record: ids abc/a1f/10/0, display X, component type FRMW,
// version 1.0, device name M; status, messages and enum id left unset.
inline std::unique_ptr<CDeviceInfo> sampleControllerRecord()
{
    std::unique_ptr<CDeviceInfo> d(new CDeviceInfo());
    SPCIInfo pci;
    pci.vendorID = "abc";
    pci.deviceID = "a1f";
    pci.subVendorID = "10";
    pci.subDeviceID = "0";
    d->setPCIInfo(pci);
    d->setDeviceType(CDeviceInfo::PCI_DEVICE);
    d->setDisplay("X");
    d->setComponentType("FRMW");
    d->setVersion("1.0");
    d->setDeviceName("M");
    return d;
}

#endif
