// IPsec (EAP) driver: the identity and peer of the configuration, the secrets file and the init
// script. The configuration is edited here in place of a stream editor: the values are user and
// cloud data, so they are never part of an edit expression.
#include "tunnel/ipsec.h"

#include <cstdio>
#include <cstring>
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "core/shell_quote.h"
#include "platform/file.h"
#include "tunnel/driver.h"
#include "tunnel/probe.h"

namespace {

const char kIdentityKey[] = "eap_identity=";
const char kRightKey[] = "right=";

// Keeps line up to and including the first key, then value; false when the key is absent.
bool set_value(std::string *line, const std::string &key, const char *value)
{
    size_t at = line->find(key);
    if (at == std::string::npos)
        return false;
    line->erase(at + key.size());
    line->append(value);
    return true;
}

// ZND_IpsecConfRewrite on the file at path, replaced atomically with its mode kept. False (logged)
// when the file cannot be read or written or lacks either line.
bool set_peer(const char *path, const char *identity, const char *right)
{
    std::string text;
    mode_t mode = 0644;
    if (!ZND_FileRead(path, &text, &mode)) {
        ZND_ERROR("read %s failed", path);
        return false;
    }
    std::string edited;
    if (!ZND_IpsecConfRewrite(text, identity, right, &edited)) {
        ZND_ERROR("%s holds no eap_identity= or no right= line", path);
        return false;
    }
    return ZND_WriteServiceFile(path, edited, mode);
}

bool ipsec_inputs_ok(const ClientRecord *client, const AccNodeServer *node)
{
    if (!ZND_IsDottedIpv4(node->cSvrIpv4)) {
        ZND_ERROR("ipsec node address refused: not a dotted IPv4 address");
        return false;
    }
    // Both files are line based, and the password is written between double quotes.
    if (ZND_HasLineBreak(client->uname) || ZND_HasLineBreak(client->upass) || strchr(client->upass, '"')) {
        ZND_ERROR("ipsec credentials refused: line break or double quote");
        return false;
    }
    return true;
}

} // namespace

uint32_t ZNACC_IpsecUp(ClientRecord *client, AccNodeServer *node)
{
    if (!client || !node) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    if (!ipsec_inputs_ok(client, node))
        return ZND_ERR_COMMON;
    if (!set_peer(ZND_PATH_IPSEC_CONF, client->uname, node->cSvrIpv4))
        return ZND_ERR_COMMON;
    std::string secret = std::string(client->uname) + " : EAP \"" + client->upass + "\"\n";
    if (!ZND_WriteServiceFile(ZND_PATH_IPSEC_SECRETS, secret, 0600))
        return ZND_ERR_COMMON;
    ZND_System(ZND_PATH_INIT_IPSEC " start >/dev/null 2>&1 &");

    snprintf(client->accTun, sizeof client->accTun, "%s", ZND_GetAccTunName(ZN_ACC_IPSEC));
    ZND_DBG("ipsec up!!");
    return ZND_OK;
}

uint32_t ZNACC_IpsecDown()
{
    ZND_System(ZND_PATH_INIT_IPSEC " stop >/dev/null 2>&1");
    ZND_DBG("ipsec down!!");
    return ZND_OK;
}

uint32_t ZNACC_IpsecState()
{
    if (ZND_IsTunActive(ZND_GetAccTunName(ZN_ACC_IPSEC))) {
        ZND_DBG("ipsec tunnel is active");
        return ZND_OK;
    }
    ZND_ERROR("ipsec tunnel is inactive");
    return ZND_ERR_COMMON;
}

bool ZND_IpsecConfRewrite(const std::string &in, const char *identity, const char *right, std::string *out)
{
    out->clear();
    bool have_identity = false, have_right = false;
    size_t pos = 0;
    while (pos < in.size()) {
        size_t end = in.find('\n', pos);
        bool has_newline = end != std::string::npos;
        std::string line = in.substr(pos, has_newline ? end - pos : std::string::npos);
        pos = has_newline ? end + 1 : in.size();
        // An identity line is never taken for a peer line, whatever the new identity holds.
        if (set_value(&line, kIdentityKey, identity))
            have_identity = true;
        else if (set_value(&line, kRightKey, right))
            have_right = true;
        out->append(line);
        if (has_newline)
            out->push_back('\n');
    }
    return have_identity && have_right;
}
