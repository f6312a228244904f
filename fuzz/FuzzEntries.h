#pragma once
// The fuzz entry points: each feeds arbitrary bytes to one reader of outside data and checks
// what must hold whatever the bytes. Shared by the libFuzzer targets and the replay test.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace fuzz {

// A property that did not hold; the message says which and on what.
class CheckFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Checks a property; the message is built only when it fails.
#define FUZZ_CHECK(ok, what)                                                                                 \
    do {                                                                                                     \
        if (!(ok))                                                                                           \
            throw ::fuzz::CheckFailed(std::string(what));                                                    \
    } while (false)

using Entry = void (*)(const uint8_t* data, size_t size);

void fieldLines(const uint8_t* data, size_t size);   // MyUtils field routines, Cp1251, line splitting
void channelBase(const uint8_t* data, size_t size);  // ChBase.dat and the selection lists built on it
void linkSettings(const uint8_t* data, size_t size); // KanvoAlt.ini
void taskFile(const uint8_t* data, size_t size);     // a .tsk file: header, status rewrite, channel lines
void monthView(const uint8_t* data, size_t size);    // a month file through the month grid and the engine
void detailRows(const uint8_t* data, size_t size);   // a month file through the detail panel's rows
void cellComment(const uint8_t* data, size_t size);  // a month file through the day comments
void kanvoList(const uint8_t* data, size_t size);    // the 68-byte external channel list and its import
void commLog(const uint8_t* data, size_t size);      // modem bytes through the communication log
void journal(const uint8_t* data, size_t size);      // a results journal and its month file through the merge
void reportFile(const uint8_t* data, size_t size);   // a month file and its journal through the report's formats
void reportArgs(const uint8_t* data, size_t size);   // a command line through the report's options

struct Target {
    const char* name; // also the folder of its corpus and regressions
    Entry entry;
};
const std::vector<Target>& targets();

} // namespace fuzz
