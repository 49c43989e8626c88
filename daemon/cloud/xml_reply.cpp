#include "cloud/xml_reply.h"

#include <climits>
#include <libxml/parser.h>
#include <libxml/tree.h>

_xmlDoc *ZND_XmlReadReply(const char *xml, size_t len)
{
    if (!xml || len > (size_t)INT_MAX)
        return nullptr;
    return xmlReadMemory(xml, (int)len, nullptr, nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
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
