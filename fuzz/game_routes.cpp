// The login route list of the cloud service ("/api/gamelist", XML with "|"-separated
// ADDRESS:MASK items). Whatever it holds, the set it fills is sound (route_set_check.h) and is
// left empty when the reply has no game of ours.
#include <cstddef>
#include <cstdint>
#include <string>
#include "cloud/cloud_route.h"
#include "core/result.h"
#include "fuzz_env.h"
#include "route/route_hash.h"
#include "route_set_check.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ZND_FuzzQuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ZND_RouteHash &set = *ZND_FuzzRouteSet();
    std::string input(reinterpret_cast<const char *>(data), size);
    uint32_t rc = ZND_ParseLoginRouteDataOld(reinterpret_cast<const char *>(data), size, &set);
    size_t n = ZND_FuzzCheckRouteSet(&set, input);
    ZND_FUZZ_CHECK(rc == ZND_OK || n == 0, input);
    ZND_RouteHashClear(&set);
    return 0;
}
