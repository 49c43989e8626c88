// What the fuzz targets share: a property check that stops the run with the input saved, a quiet
// log sink, and the sandbox for targets that touch files or sockets.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// A property that does not hold is a finding like a crash: libFuzzer saves the input on abort().
[[noreturn]] void ZND_FuzzFail(const char *file, int line, const char *what, const std::string &detail);
#define ZND_FUZZ_CHECK(cond, detail)                                   \
    do {                                                               \
        if (!(cond))                                                   \
            ZND_FuzzFail(__FILE__, __LINE__, #cond, (detail));         \
    } while (0)

// Log lines are still formatted, but go nowhere: millions of runs must not reach syslog.
void ZND_FuzzQuietLog();

// Moves the process into private mount and network namespaces (the tests' sandbox) once; ends
// the process when that is impossible (the targets that need it run as root).
void ZND_FuzzEnterSandbox();

// The input as text: a copy that ends at its first NUL byte, as a C string would.
std::string ZND_FuzzText(const uint8_t *data, size_t size);

// A file that holds exactly the input (a memory file; the same path on every call), for readers
// that take a path.
const char *ZND_FuzzFile(const uint8_t *data, size_t size);
