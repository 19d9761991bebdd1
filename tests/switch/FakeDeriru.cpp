// Test stand-in for the USB switch plugin (built as libderiru.so).
#include "FakeDeriru.h"

#include <algorithm>
#include <cstring>

namespace {
FakeDeriruRecord g_record;
}

extern "C" {

__attribute__((visibility("default"))) unsigned char deriru_write(const unsigned char *bytes,
                                                                  int count)
{
    ++g_record.calls;
    g_record.count = count;
    std::memset(g_record.bytes, 0, sizeof g_record.bytes);
    if (bytes && count > 0)
        std::memcpy(g_record.bytes, bytes, static_cast<std::size_t>(std::min(count, 16)));
    return g_record.result;
}

__attribute__((visibility("default"))) FakeDeriruRecord *fake_deriru_record()
{
    return &g_record;
}
}
