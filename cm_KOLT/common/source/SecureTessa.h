#ifndef CM_KOLT_SECURETESSA_H
#define CM_KOLT_SECURETESSA_H

// Managed-storage (Tessa) client of the management controller. Only the
// part the NVMe update front end relies on is present in this build; the
// session, partition and IPMI operations join it with the managed-storage
// access code.
class secureTessa {
public:
    secureTessa();
    virtual ~secureTessa();

    // Asks the management controller to set its power-cycle state flag.
    // 0 when the request was accepted, -1 otherwise.
    int regPowerCycle();

private:
    secureTessa(const secureTessa&) = delete;
    secureTessa& operator=(const secureTessa&) = delete;
};

#endif
