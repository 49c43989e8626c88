// The local route list files /etc/zunaro/gameList.conf and smartRoute.conf: the document read the
// way the readers read the file (json-c, default depth), then both parsers of the daemon.
// Whatever the file holds, the sets it leaves behind are sound (route_set_check.h) and everything
// they hold is freed again.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <json-c/json.h>
#include <string>
#include "fuzz_env.h"
#include "route/route_file.h"
#include "route/route_hash.h"
#include "route_set_check.h"

namespace {

json_object *read_document(const uint8_t *data, size_t size)
{
    json_tokener *tok = json_tokener_new_ex(JSON_TOKENER_DEFAULT_DEPTH);
    json_object *doc = json_tokener_parse_ex(tok, reinterpret_cast<const char *>(data), (int)size);
    json_tokener_free(tok);
    return doc;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ZND_FuzzQuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ZND_RouteHash &set = *ZND_FuzzRouteSet();
    if (size > INT_MAX)
        return 0;
    json_object *doc = read_document(data, size);
    if (!doc)
        return 0;
    std::string input(reinterpret_cast<const char *>(data), size);

    ZND_ParseLoginRouteFromJson(doc, &set);
    ZND_FuzzCheckRouteSet(&set, input);
    ZND_RouteHashClear(&set);

    ZND_ParseTrafficRouteFromJson(doc, &set);
    ZND_FuzzCheckRouteSet(&set, input);
    ZND_RouteHashClear(&set);
    json_object_put(doc);
    return 0;
}
