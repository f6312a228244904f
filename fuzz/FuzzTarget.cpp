// One libFuzzer target: CHANTEST_FUZZ_ENTRY names the entry point it drives.
#include "FuzzEntries.h"

#include "core/AppError.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        fuzz::CHANTEST_FUZZ_ENTRY(data, size);
    } catch (const fuzz::CheckFailed& e) {
        std::fprintf(stderr, "==fuzz== property failed: %s\n", e.what());
        std::abort();
    } catch (const AppError& e) {
        // The readers take any bytes; an error raised on some of them is a finding too.
        std::fprintf(stderr, "==fuzz== reader raised: %s\n", e.what());
        std::abort();
    }
    return 0;
}
