// Test stand-in for the USB switch plugin (built as libderiru.so).
#include "FakeDeriru.h"

#include <algorithm>

FakeDeriruRecord fake_deriru_record;

extern "C" unsigned char deriru_write(const unsigned char *bytes, int count)
{
    ++fake_deriru_record.calls;
    fake_deriru_record.count = count;
    std::copy_n(bytes, std::min(count, 6), fake_deriru_record.bytes);
    return fake_deriru_record.result;
}
