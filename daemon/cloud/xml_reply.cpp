#include "cloud/xml_reply.h"

#include <climits>
#include <cstring>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include "core/log.h"

namespace {

// The document is built whole in memory, at well over a hundred bytes a node whatever the bytes
// that make it: a reply of many tiny elements would take many times its size. Replies are refused
// beyond this many tags, which is far more than a game list of thousands of games has.
const size_t kTagsMax = 16384;

size_t count_tags(const char *xml, size_t len)
{
    size_t n = 0;
    for (const char *p = xml, *end = xml + len; (p = static_cast<const char *>(memchr(p, '<', (size_t)(end - p))));
         p++)
        n++;
    return n;
}

} // namespace

ZND_XmlReplyStatus ZND_XmlReadReply(const char *xml, size_t len, const char *root_name, _xmlDoc **doc,
                                    const _xmlNode **root)
{
    *root = nullptr;
    *doc = nullptr;
    size_t tags = xml ? count_tags(xml, len) : 0;
    if (tags > kTagsMax)
        ZND_ERROR("reply of %zu tags is over the limit of %zu, not read", tags, kTagsMax);
    else if (xml && len <= (size_t)INT_MAX)
        *doc = xmlReadMemory(xml, (int)len, nullptr, nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!*doc) {
        ZND_ERROR("get parse xml memory failed!");
        return ZND_XML_REPLY_NOT_XML;
    }
    const xmlNode *top = xmlDocGetRootElement(*doc);
    if (!top) {
        ZND_ERROR("parse xml root failed!");
        return ZND_XML_REPLY_NO_ROOT;
    }
    if (!ZND_XmlIsElement(top, root_name)) {
        ZND_ERROR("parse xml chld failed!");
        return ZND_XML_REPLY_OTHER_ROOT;
    }
    *root = top;
    return ZND_XML_REPLY_OK;
}

bool ZND_XmlIsElement(const _xmlNode *node, const char *name)
{
    return node && node->type == XML_ELEMENT_NODE && node->name &&
           xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar *>(name)) == 0;
}

std::string ZND_XmlOwnText(const _xmlNode *node)
{
    std::string text;
    for (const xmlNode *c = node ? node->children : nullptr; c; c = c->next)
        if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content)
            text += reinterpret_cast<const char *>(c->content);
    return text;
}
