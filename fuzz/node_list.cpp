// The node list reply of the cloud service ("/api/cfgcontrol", XML). Whatever it holds, the node
// table gets at most ten terminated entries and nothing beyond it is written; ordering them best
// first is a permutation that puts every entry ahead of the worse ones; the node that the
// settings name is found in the table.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
#include "cloud/node_list.h"
#include "core/context.h"
#include "fuzz_env.h"

namespace {

template <size_t N> bool terminated(const char (&field)[N])
{
    return memchr(field, 0, N) != nullptr;
}

std::vector<uint32_t> ids_of(const AccNodeServer *table)
{
    std::vector<uint32_t> ids;
    for (int i = 0; i < ZND_NODE_TABLE_SIZE; i++)
        ids.push_back(table[i].id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

void check_order(const AccNodeServer *table, const std::string &input)
{
    for (int p = 0; p < ZND_NODE_TABLE_SIZE && table[p].id != 0; p++)
        for (int q = p + 1; q < ZND_NODE_TABLE_SIZE; q++)
            ZND_FUZZ_CHECK(table[q].id == 0 || ZND_NodeOrderKey(&table[p]) >= ZND_NodeOrderKey(&table[q]),
                           "entry " + std::to_string(p) + " behind " + std::to_string(q) + "\n" + input);
}

// The selection by id, else by name, else the best node.
void check_match(uint32_t id, const char *name, const std::string &input)
{
    AccNodeServer *got = ZND_MatchAccNode(id, name);
    AccNodeServer *table = g_znd.nodes;
    AccNodeServer *want = &table[0];
    if (id != 0) {
        AccNodeServer *by_id = nullptr, *by_name = nullptr;
        for (int i = ZND_NODE_TABLE_SIZE - 1; i >= 0; i--) {
            if (table[i].id == id)
                by_id = &table[i];
            if (table[i].cSvrName[0] && strcmp(table[i].cSvrName, name) == 0)
                by_name = &table[i];
        }
        want = by_id ? by_id : by_name ? by_name : &table[0];
    }
    ZND_FUZZ_CHECK(got == want, "match " + std::to_string(id) + " " + name + "\n" + input);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ZND_FuzzQuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The table sits between guards that the parser must leave alone.
    struct {
        AccNodeServer before;
        AccNodeServer table[ZND_NODE_TABLE_SIZE];
        AccNodeServer after;
    } area;
    memset(&area, 0xA5, sizeof area);
    memset(area.table, 0, sizeof area.table);
    std::string input(reinterpret_cast<const char *>(data), size);

    ZND_ParseAccNodeDataOld(reinterpret_cast<const char *>(data), size, area.table);
    AccNodeServer guard;
    memset(&guard, 0xA5, sizeof guard);
    ZND_FUZZ_CHECK(memcmp(&area.before, &guard, sizeof guard) == 0 && memcmp(&area.after, &guard, sizeof guard) == 0,
                   input);
    for (const AccNodeServer &n : area.table)
        ZND_FUZZ_CHECK(terminated(n.cSvrIpv4) && terminated(n.cSvrName) && terminated(n.cOpenVpnDev), input);

    std::vector<uint32_t> before = ids_of(area.table);
    ZND_NodeSortByKey(area.table);
    ZND_FUZZ_CHECK(ids_of(area.table) == before, input);
    check_order(area.table, input);

    memcpy(g_znd.nodes, area.table, sizeof g_znd.nodes);
    for (const AccNodeServer &n : area.table)
        if (n.id != 0)
            check_match(n.id, n.cSvrName, input);
    check_match(0, "", input);
    check_match(0xFFFFFFFFu, area.table[0].cSvrName, input);
    return 0;
}
