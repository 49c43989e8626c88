// Editing the IPsec configuration in place of a stream editor: the values are user and cloud data,
// so they are never part of an edit expression.
#include "tunnel/ipsec_conf.h"

#include "core/log.h"
#include "platform/file.h"
#include "tunnel/driver_util.h"

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

} // namespace

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

bool ZND_IpsecConfSetPeer(const char *path, const char *identity, const char *right)
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
