// What the daemon reads back from the shell: the default gateway from "ip route", the device
// identity from the MAC address pipeline, and the table-empty checks, which go by the pipeline's
// exit status alone. The output and the status come from the input; the results must be what the
// output says, terminated and within their buffers.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <sstream>
#include <string>
#include <vector>
#include "config/account.h"
#include "core/result.h"
#include "fuzz_env.h"
#include "platform/shell.h"
#include "route/route_kernel.h"

namespace {

// The shell of one run: the pipelines read the output, the table-empty checks get the status.
struct {
    int status;
    bool pipe_fails;
    std::string output;
} g_shell;

int shell_run(const char *)
{
    return g_shell.status;
}

int shell_run_input(const char *, const char *)
{
    return g_shell.status;
}

int shell_read(const char *, std::string *out)
{
    if (g_shell.pipe_fails)
        return -1;
    *out = g_shell.output;
    return 0;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::vector<std::string> words_of(const std::string &line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_blank(line[i]))
            i++;
        size_t start = i;
        while (i < line.size() && !is_blank(line[i]))
            i++;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

// The third word of the first line that starts with the word "default" and has three.
std::string gateway_in(const std::string &listing)
{
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        std::vector<std::string> w = words_of(listing.substr(start, end - start));
        if (w.size() >= 3 && w[0] == "default")
            return w[2];
        start = end + 1;
    }
    return "";
}

void check_gateway(const std::string &output, bool pipe_fails)
{
    char out[16];
    memset(out, 0x5A, sizeof out);
    uint32_t rc = CFGI_GetGateway(out, sizeof out);
    std::string want = pipe_fails ? "" : gateway_in(output);
    if (!want.empty() && want.size() < sizeof out) {
        ZND_FUZZ_CHECK(rc == ZND_OK && memcmp(out, want.c_str(), want.size() + 1) == 0, output);
        return;
    }
    ZND_FUZZ_CHECK(rc != ZND_OK, output);
    if (!pipe_fails)
        for (char c : out)
            ZND_FUZZ_CHECK(c == 0, "gateway buffer not cleared\n" + output);
}

void check_mac(const std::string &output, bool pipe_fails, size_t size)
{
    std::vector<char> out(size, 0x5A);
    uint32_t rc = ZND_GetMacByIfName("eth1", out.data(), out.size());
    // The first line with its newline, at most 31 characters, then as much as the buffer holds.
    size_t eol = output.find('\n');
    std::string line = output.substr(0, eol == std::string::npos ? eol : eol + 1).substr(0, 31);
    if (pipe_fails || line.empty()) {
        ZND_FUZZ_CHECK(rc != ZND_OK, output);
        return;
    }
    std::string want = std::string(line.c_str()).substr(0, size - 1);
    ZND_FUZZ_CHECK(rc == ZND_OK && strcmp(out.data(), want.c_str()) == 0, output);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static const ZND_ShellOps ops = {shell_run, shell_read, shell_run_input};
    ZND_ShellSetOps(&ops);
    ZND_FuzzQuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    int status = in.ConsumeIntegral<int>();
    bool pipe_fails = in.ConsumeBool();
    size_t mac_size = in.ConsumeIntegralInRange<size_t>(1, 40);
    g_shell.status = status;
    g_shell.pipe_fails = pipe_fails;
    g_shell.output = in.ConsumeRemainingBytesAsString();
    const std::string &output = g_shell.output;

    check_gateway(output, pipe_fails);
    check_mac(output, pipe_fails, mac_size);
    ZND_FUZZ_CHECK(ZND_LoginRouteTabIsEmpty() == (status != 0 ? 1 : 0), std::to_string(status));
    ZND_FUZZ_CHECK(ZND_TrafficRouteTabIsEmpty() == (status != 0 ? 1 : 0), std::to_string(status));
    return 0;
}
