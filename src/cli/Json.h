#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quillon::cli {

// A small streaming JSON writer for --json output. Numbers are written in full precision
// (the shortest text that reads back as the same double); a NaN or an infinity, which JSON
// cannot hold, is written as null. The caller nests begin/end calls correctly.
class Json
{
public:
    Json &beginObject();
    Json &endObject();
    Json &beginArray();
    Json &endArray();
    // The key of the next value inside an object.
    Json &key(std::string_view name);
    Json &value(double v);
    Json &value(int v);
    Json &value(long long v);
    Json &value(bool v);
    Json &value(std::string_view v);
    Json &value(const char *v) { return value(std::string_view(v)); }
    Json &null();

    // The document with a final newline (after flush(), the rest of it).
    std::string text() const { return m_text + "\n"; }
    // Writes the text so far to `out` and forgets it: a long document needs no more memory
    // than its last part.
    void flush(std::FILE *out);

private:
    void separate();
    std::string m_text;
    bool m_needComma = false;
};

} // namespace quillon::cli
