// Linked into the programs only in AddressSanitizer builds. PortAudio's ALSA host loads
// ALSA plugins with dlopen and unloads them again; the allocations they never free are
// then reported with an unknown module, which no suppression can name. Full unwinding
// on every allocation keeps libasound in those stacks, so scripts/lsan.supp matches them.
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
