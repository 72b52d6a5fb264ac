#ifndef CM_QRMIPMI_FOUNDATION_QRMTIME_H
#define CM_QRMIPMI_FOUNDATION_QRMTIME_H

#include "QRMString.h"

// Seconds since the Unix epoch; 0 means not set, and an unset time converts
// to nothing. Calendar conversions use the local time zone.
class QRMTime {
public:
    QRMTime();
    explicit QRMTime(unsigned long long seconds);
    QRMTime(const QRMTime& other);
    QRMTime& operator=(const QRMTime& other);
    virtual ~QRMTime();

    bool operator==(const QRMTime& other) const;
    bool operator!=(const QRMTime& other) const;
    bool operator<(const QRMTime& other) const;
    bool operator>(const QRMTime& other) const;
    bool Equals(const QRMTime& other) const;

    static unsigned long long CurrentTime();

    void SetTime(unsigned long long seconds);
    unsigned long long GetTime() const;
    bool IsValid() const;

    // Local calendar fields; month 1-12, weekday 1 (Sunday) to 7 (Saturday).
    // Null pointers are skipped.
    bool GetTime(int* year, int* month, int* day, int* hour, int* minute, int* second,
                 int* weekday) const;
    bool SetTime(int year, int month, int day, int hour, int minute, int second);

    // Short form "3/5/2026", long form "Thursday, March 05, 2026".
    bool DateToString(QRMString& text, bool shortForm) const;
    // "03:07PM"
    bool TimeToString(QRMString& text) const;

private:
    unsigned long long m_seconds;
};

// 16-byte identifier value.
struct QRMGUID {
    unsigned int Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];

    QRMGUID();
    QRMGUID(const QRMGUID& other) = default;
    QRMGUID& operator=(const QRMGUID& other);
    bool operator==(const QRMGUID& other) const;
    bool operator!=(const QRMGUID& other) const;
    bool operator<(const QRMGUID& other) const;
    bool operator>(const QRMGUID& other) const;
};

#endif
