// The login reply of the cloud service ("/api/softlogin"): "|"-separated fields read by position.
// The account fields must be what the reply says, cut to their size, and terminated; fields the
// reply does not have stay as they were.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "cloud/login.h"
#include "core/result.h"
#include "fuzz_env.h"

namespace {

// The first ten fields, each as far as the parser looks at it (63 characters).
std::vector<std::string> fields_of(const std::string &text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (out.size() < 10) {
        size_t end = text.find('|', start);
        out.push_back(text.substr(start, std::min(end, text.size()) - start).substr(0, 63));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

// A decimal field without sign, blanks or overflow; -1 otherwise (those are not compared).
long plain_decimal(const std::string &field)
{
    if (field.empty() || field.size() > 9)
        return -1;
    for (char c : field)
        if (!isdigit((unsigned char)c))
            return -1;
    return strtol(field.c_str(), nullptr, 10);
}

template <size_t N> void check_text(const char (&got)[N], const std::vector<std::string> &f, size_t pos,
                                    const std::string &text)
{
    ZND_FUZZ_CHECK(memchr(got, 0, N), "not terminated\n" + text);
    std::string want = pos < f.size() ? f[pos].substr(0, N - 1) : "old";
    ZND_FUZZ_CHECK(got == want, "field " + std::to_string(pos) + ": " + got + "\n" + text);
}

void check_number(uint8_t got, const std::vector<std::string> &f, size_t pos, uint8_t old, const std::string &text)
{
    long want = pos < f.size() ? plain_decimal(f[pos]) : old;
    ZND_FUZZ_CHECK(want < 0 || got == (uint8_t)want, "field " + std::to_string(pos) + "\n" + text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ZND_FuzzQuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text = ZND_FuzzText(data, size);
    ClientRecord c;
    memset(&c, 0, sizeof c);
    strcpy(c.ucExprtData, "old");
    strcpy(c.ucSvrCurTime, "old");
    strcpy(c.ucPbNetIp, "old");
    c.ucPayState = 7;
    c.ucAccTunState = 9;

    uint32_t rc = ZND_ParseUserLoginDataOld(&c, text.c_str());
    std::vector<std::string> f = fields_of(text);
    if (f[0].empty() || f[0][0] != 'Y') {
        ZND_FUZZ_CHECK(rc == ZND_ERR_USER_ACCOUNT && c.ucVipType == 0, text);
        return 0;
    }
    ZND_FUZZ_CHECK(rc == ZND_OK, text);
    check_text(c.ucExprtData, f, 1, text);
    check_text(c.ucSvrCurTime, f, 5, text);
    check_text(c.ucPbNetIp, f, 8, text);
    check_number(c.ucPayState, f, 6, 7, text);
    check_number(c.ucAccTunState, f, 9, 9, text);
    uint8_t want_type = 0x01;
    if (f.size() > 3 && plain_decimal(f[3]) == 100)
        want_type |= 0x04;
    if (c.ucPayState != 0)
        want_type |= 0x08;
    // Bit 2 is only predicted for plain decimals; other spellings of 100 may set it too.
    ZND_FUZZ_CHECK((c.ucVipType & ~0x04) == (want_type & ~0x04) && (c.ucVipType & want_type) == want_type,
                   std::to_string(c.ucVipType) + "\n" + text);
    return 0;
}
