#include "cloud/xml_reply.h"

#include <climits>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include "core/log.h"

ZND_XmlReplyStatus ZND_XmlReadReply(const char *xml, size_t len, const char *root_name, _xmlDoc **doc,
                                    const _xmlNode **root)
{
    *root = nullptr;
    *doc = nullptr;
    if (xml && len <= (size_t)INT_MAX)
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
