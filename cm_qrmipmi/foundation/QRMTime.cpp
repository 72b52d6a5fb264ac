#include "QRMTime.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Breaks a stored value down into local calendar fields. localtime_r keeps
// the conversion off the C library's shared static buffer.
bool ToLocal(unsigned long long seconds, struct tm& fields)
{
    const time_t value = static_cast<time_t>(seconds);
    return localtime_r(&value, &fields) != nullptr;
}

}  // namespace

QRMTime::QRMTime() : m_seconds(0) {}

QRMTime::QRMTime(unsigned long long seconds) : m_seconds(seconds) {}

QRMTime::QRMTime(const QRMTime& other) : m_seconds(other.m_seconds) {}

QRMTime& QRMTime::operator=(const QRMTime& other)
{
    m_seconds = other.m_seconds;
    return *this;
}

QRMTime::~QRMTime() {}

bool QRMTime::operator==(const QRMTime& other) const { return m_seconds == other.m_seconds; }
bool QRMTime::operator!=(const QRMTime& other) const { return m_seconds != other.m_seconds; }
bool QRMTime::operator<(const QRMTime& other) const { return m_seconds < other.m_seconds; }
bool QRMTime::operator>(const QRMTime& other) const { return m_seconds > other.m_seconds; }
bool QRMTime::Equals(const QRMTime& other) const { return *this == other; }

unsigned long long QRMTime::CurrentTime()
{
    return static_cast<unsigned long long>(time(nullptr));
}

void QRMTime::SetTime(unsigned long long seconds) { m_seconds = seconds; }

unsigned long long QRMTime::GetTime() const { return m_seconds; }

bool QRMTime::IsValid() const { return m_seconds != 0; }

bool QRMTime::GetTime(int* year, int* month, int* day, int* hour, int* minute, int* second,
                      int* weekday) const
{
    if (m_seconds == 0)
        return false;
    struct tm fields;
    if (!ToLocal(m_seconds, fields))
        return false;
    if (year != nullptr)
        *year = fields.tm_year + 1900;
    if (month != nullptr)
        *month = fields.tm_mon + 1;
    if (day != nullptr)
        *day = fields.tm_mday;
    if (hour != nullptr)
        *hour = fields.tm_hour;
    if (minute != nullptr)
        *minute = fields.tm_min;
    if (second != nullptr)
        *second = fields.tm_sec;
    if (weekday != nullptr)
        *weekday = fields.tm_wday + 1;
    return true;
}

bool QRMTime::SetTime(int year, int month, int day, int hour, int minute, int second)
{
    // The text form below carries four-digit years only.
    if (year <= 1600 || year > 9999)
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return false;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;

    char text[64];
    std::snprintf(text, sizeof(text), "%d-%d-%d %d:%d:%d", year, month, day, hour, minute,
                  second);
    struct tm fields;
    std::memset(&fields, 0, sizeof(fields));
    if (strptime(text, "%Y-%m-%d %H:%M:%S", &fields) == nullptr)
        return false;
    // Let mktime decide whether daylight saving applies on that date.
    fields.tm_isdst = -1;
    m_seconds = static_cast<unsigned long long>(mktime(&fields));
    return true;
}

bool QRMTime::DateToString(QRMString& text, bool shortForm) const
{
    text.clear();
    if (m_seconds == 0)
        return false;
    struct tm fields;
    if (!ToLocal(m_seconds, fields))
        return false;
    char buffer[100];
    buffer[0] = '\0';
    if (shortForm)
        std::snprintf(buffer, sizeof(buffer), "%d/%d/%d", fields.tm_mon + 1, fields.tm_mday,
                      fields.tm_year + 1900);
    else
        // The calendar year: the ISO week-based year would print the wrong
        // year for the first and last days of some years.
        strftime(buffer, sizeof(buffer), "%A, %B %d, %Y", &fields);
    text = QRMString(buffer, QRMString::QRM_ENCODING_UTF8);
    return true;
}

bool QRMTime::TimeToString(QRMString& text) const
{
    text.clear();
    if (m_seconds == 0)
        return false;
    struct tm fields;
    if (!ToLocal(m_seconds, fields))
        return false;
    char buffer[100];
    buffer[0] = '\0';
    strftime(buffer, sizeof(buffer), "%I:%M%p", &fields);
    text = QRMString(buffer, QRMString::QRM_ENCODING_UTF8);
    return true;
}

QRMGUID::QRMGUID() : Data1(0), Data2(0), Data3(0)
{
    std::memset(Data4, 0, sizeof(Data4));
}

QRMGUID& QRMGUID::operator=(const QRMGUID& other)
{
    Data1 = other.Data1;
    Data2 = other.Data2;
    Data3 = other.Data3;
    std::memcpy(Data4, other.Data4, sizeof(Data4));
    return *this;
}

bool QRMGUID::operator==(const QRMGUID& other) const
{
    return Data1 == other.Data1 && Data2 == other.Data2 && Data3 == other.Data3 &&
           std::memcmp(Data4, other.Data4, sizeof(Data4)) == 0;
}

bool QRMGUID::operator!=(const QRMGUID& other) const { return !(*this == other); }

bool QRMGUID::operator<(const QRMGUID& other) const
{
    // Field by field, each as an unsigned number.
    if (Data1 != other.Data1)
        return Data1 < other.Data1;
    if (Data2 != other.Data2)
        return Data2 < other.Data2;
    if (Data3 != other.Data3)
        return Data3 < other.Data3;
    return std::memcmp(Data4, other.Data4, sizeof(Data4)) < 0;
}

// Strictly greater: equal values are neither less nor greater.
bool QRMGUID::operator>(const QRMGUID& other) const { return other < *this; }
