#include "state_record.h"

#include "platform/uci_store.h"

namespace {

bool set(const char *option, const std::string &value)
{
    std::string address = std::string("userinfo.1.") + option;
    return ZND_UciSet(address.c_str(), value.c_str()) == 0;
}

} // namespace

bool ZCTL_RecordState(const std::string &state)
{
    return !state.empty() && set("currState", state);
}

bool ZCTL_RecordAccount(const std::string &user, const std::string &password)
{
    return set("historyname", user) && set("historypass", password);
}

bool ZCTL_RecordSettings(int mode, long node, const std::string &nodeName, bool reconnect)
{
    // The daemon reads these four in order and stops at the first one missing, and an empty value
    // is no option: a name is kept as it was when there is none to write.
    bool ok = set("mode", std::to_string(mode)) && set("node", std::to_string(node));
    if (ok && !nodeName.empty())
        ok = set("nodename", nodeName);
    return ok && set("reconn", reconnect ? "1" : "0");
}
