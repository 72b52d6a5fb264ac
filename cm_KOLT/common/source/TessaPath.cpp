#include "TessaPath.h"

namespace {

using Fault = TessaPath::Fault;

// A separator inside a name would make it a second level to the controller
// or to the host, a NUL byte would end it early for the host.
Fault charactersFault(const std::string& text)
{
    for (const char c : text) {
        if (c == '/' || c == '\\')
            return Fault::separator;
        if (c == '\0')
            return Fault::nulByte;
    }
    return Fault::none;
}

Fault nameFault(const std::string& name)
{
    if (name.empty())
        return Fault::emptyName;
    if (name == ".")
        return Fault::dotName;
    if (name == "..")
        return Fault::parentName;
    return charactersFault(name);
}

bool accepted(Fault fault, Fault* why)
{
    if (why != nullptr)
        *why = fault;
    return fault == Fault::none;
}

std::string joined(const std::vector<std::string>& names, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += '/';
        text += names[i];
    }
    return text;
}

} // namespace

std::optional<TessaPath> TessaPath::parse(const std::string& text, Fault* why)
{
    const std::string::size_type slash = text.find('/');
    if (slash == std::string::npos) {
        TessaPath place;
        if (!text.empty()) {
            if (!accepted(nameFault(text), why))
                return std::nullopt;
            place.m_names.push_back(text);
        }
        accepted(Fault::none, why);
        return place;
    }
    std::vector<std::string> names;
    for (std::string::size_type start = slash + 1;;) {
        const std::string::size_type next = text.find('/', start);
        names.push_back(text.substr(start, next == std::string::npos ? std::string::npos : next - start));
        if (next == std::string::npos)
            break;
        start = next + 1;
    }
    return on(text.substr(0, slash), names, why);
}

std::optional<TessaPath> TessaPath::on(const std::string& partition, const std::vector<std::string>& names,
                                       Fault* why)
{
    Fault fault = charactersFault(partition);
    if (fault == Fault::none && names.empty())
        fault = Fault::emptyName;
    for (size_t i = 0; fault == Fault::none && i < names.size(); ++i)
        fault = nameFault(names[i]);
    if (!accepted(fault, why))
        return std::nullopt;
    TessaPath place;
    place.m_hasPartition = true;
    place.m_partition = partition;
    place.m_names = names;
    return place;
}

bool TessaPath::isName(const std::string& text)
{
    return nameFault(text) == Fault::none;
}

std::string TessaPath::firstComponentOf(const std::string& text)
{
    return text.substr(0, text.find('/'));
}

const char* TessaPath::describe(Fault fault)
{
    switch (fault) {
    case Fault::none:
        return "nothing wrong";
    case Fault::emptyName:
        return "an empty name";
    case Fault::dotName:
        return "a \".\" name";
    case Fault::parentName:
        return "a \"..\" name";
    case Fault::separator:
        return "a separator inside a name";
    case Fault::nulByte:
        return "a NUL byte";
    }
    return "an unknown fault";
}

std::string TessaPath::text() const
{
    const std::string inside = inPartition();
    return m_hasPartition ? m_partition + "/" + inside : inside;
}

std::string TessaPath::partitionName() const
{
    if (m_hasPartition)
        return m_partition;
    return m_names.empty() ? std::string() : m_names.front();
}

std::string TessaPath::inPartition() const
{
    return joined(m_names, m_names.size());
}

std::string TessaPath::under(const std::string& mountPoint) const
{
    return mountPoint + inPartition();
}

std::vector<std::string> TessaPath::folders() const
{
    std::vector<std::string> paths;
    for (size_t depth = 1; depth < m_names.size(); ++depth)
        paths.push_back(joined(m_names, depth));
    return paths;
}

std::optional<TessaPath> TessaPath::inRoot(const std::string& name) const
{
    if (!isName(name))
        return std::nullopt;
    TessaPath place;
    place.m_hasPartition = m_hasPartition;
    place.m_partition = m_partition;
    place.m_names.push_back(name);
    return place;
}
