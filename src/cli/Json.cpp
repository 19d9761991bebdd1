#include "cli/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quillon::cli {

void Json::separate()
{
    if (m_needComma)
        m_text += ',';
    m_needComma = true;
}

Json &Json::beginObject()
{
    separate();
    m_text += '{';
    m_needComma = false;
    return *this;
}

Json &Json::endObject()
{
    m_text += '}';
    m_needComma = true;
    return *this;
}

Json &Json::beginArray()
{
    separate();
    m_text += '[';
    m_needComma = false;
    return *this;
}

Json &Json::endArray()
{
    m_text += ']';
    m_needComma = true;
    return *this;
}

Json &Json::key(std::string_view name)
{
    value(name);
    m_text += ':';
    m_needComma = false;
    return *this;
}

Json &Json::value(double v)
{
    if (!std::isfinite(v))
        return null();
    separate();
    char buffer[32];
    // Shortest round-trip text, "C" style whatever the locale.
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    m_text.append(buffer, ec == std::errc() ? end : buffer);
    return *this;
}

Json &Json::value(int v)
{
    return value(static_cast<long long>(v));
}

Json &Json::value(long long v)
{
    separate();
    m_text += std::to_string(v);
    return *this;
}

Json &Json::value(bool v)
{
    separate();
    m_text += v ? "true" : "false";
    return *this;
}

Json &Json::value(std::string_view v)
{
    separate();
    m_text += '"';
    for (const char c : v) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            m_text += '\\';
            m_text += c;
        } else if (c == '\n') {
            m_text += "\\n";
        } else if (c == '\t') {
            m_text += "\\t";
        } else if (c == '\r') {
            m_text += "\\r";
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            m_text += escaped;
        } else {
            m_text += c;
        }
    }
    m_text += '"';
    return *this;
}

void Json::flush(std::FILE *out)
{
    std::fwrite(m_text.data(), 1, m_text.size(), out);
    m_text.clear();
}

Json &Json::null()
{
    separate();
    m_text += "null";
    return *this;
}

} // namespace quillon::cli
