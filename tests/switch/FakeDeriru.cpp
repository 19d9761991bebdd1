// Test stand-in for the USB switch plugin: keeps the last command it was sent and answers
// with a result the test chooses. The query functions are found by the tests with dlsym.
#include <algorithm>
#include <cstring>

namespace {
unsigned char g_last[16];
int g_lastCount = -1;
int g_calls = 0;
unsigned char g_result = 1;
} // namespace

extern "C" {

__attribute__((visibility("default"))) unsigned char deriru_write(const unsigned char *bytes,
                                                                  int count)
{
    ++g_calls;
    g_lastCount = count;
    std::memset(g_last, 0, sizeof g_last);
    if (bytes && count > 0)
        std::memcpy(g_last, bytes, static_cast<std::size_t>(std::min(count, 16)));
    return g_result;
}

__attribute__((visibility("default"))) int fake_deriru_calls()
{
    return g_calls;
}
__attribute__((visibility("default"))) int fake_deriru_last_count()
{
    return g_lastCount;
}
__attribute__((visibility("default"))) const unsigned char *fake_deriru_last_bytes()
{
    return g_last;
}
__attribute__((visibility("default"))) void fake_deriru_set_result(unsigned char result)
{
    g_result = result;
}
}
