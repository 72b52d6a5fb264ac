#ifndef CM_QRMIPMI_FOUNDATION_QRMSTRING_H
#define CM_QRMIPMI_FOUNDATION_QRMSTRING_H

#include <ios>
#include <string>
#include <vector>

// The IPMI library's string: UTF-16 code units. Text enters from C strings
// as UTF-8 and leaves through GetUTF8String before every call into the C
// library, libxml2, a log file or the shell.
class QRMString : public std::basic_string<unsigned short> {
public:
    typedef std::basic_string<unsigned short> BaseString;

    // How the C-string constructor reads its bytes.
    enum QRMCharEncodingType {
        QRM_ENCODING_SINGLE_BYTE = 0,   // one byte is one code unit
        QRM_ENCODING_UTF8 = 1           // the library always passes this
    };

    QRMString();
    QRMString(const char* text, QRMCharEncodingType encoding = QRM_ENCODING_UTF8);
    QRMString(const wchar_t* text);
    QRMString(const BaseString& units);
    // Stops at the first zero unit of the other string.
    QRMString(const QRMString& other);
    // Copies every unit, zero units included.
    QRMString& operator=(const QRMString& other);
    virtual ~QRMString();

    std::string GetUTF8String() const;
    std::wstring GetWstring() const;
    // length: buffer capacity on entry, UTF-8 byte count (without the
    // terminator) on success. Returns 0 on success, 1 when nothing was copied.
    int GetCString(char* buffer, unsigned long& length);
    static unsigned long long GetNPos();

    bool ContainsAny(const QRMString& set, unsigned int start) const;
    QRMString SubString(unsigned long start, unsigned long count) const;
    bool SubStrings(const QRMString& delimiters, std::vector<QRMString>& pieces) const;
    QRMString TrimWhiteSpaces(const QRMString& set) const;
    QRMString& ReplaceAll(const QRMString& search, const QRMString& replacement);
    bool ContainsSpecialCharacters() const;
    bool IsPermissableFileName() const;

    int AppendNumber(int value, const QRMString& format);
    int AppendNumber(long long value, const QRMString& format);
    int AppendNumber(int value);
    int AppendUNumber(unsigned int value);
    int AppendNumber(long long value);
    int AppendUNumber(unsigned long long value);

    int GetIntValue(std::ios_base& (*base)(std::ios_base&)) const;
    double GetDoubleValue() const;
};

bool operator==(const char* left, const QRMString& right);
bool operator==(const QRMString& left, const char* right);
bool operator==(const wchar_t* left, const QRMString& right);
bool operator==(const QRMString& left, const wchar_t* right);

QRMString operator+(const char* left, const QRMString& right);
QRMString operator+(const wchar_t* left, const QRMString& right);
QRMString operator+(const QRMString& left, const char* right);
QRMString operator+(const QRMString& left, const wchar_t* right);

QRMString& operator+=(QRMString& left, const char* right);

#endif
