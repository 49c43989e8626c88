// Reading the XML replies of the cloud service: from memory, without network access or entity
// expansion, element names compared without regard to case.
#pragma once
#include <cstddef>
#include <string>

struct _xmlDoc;
struct _xmlNode;

// What reading a reply whose root element must have a given name found; each failure is logged.
enum ZND_XmlReplyStatus {
    ZND_XML_REPLY_OK,           // the root element has the name
    ZND_XML_REPLY_NOT_XML,      // "get parse xml memory failed!"; there is no document
    ZND_XML_REPLY_NO_ROOT,      // "parse xml root failed!"
    ZND_XML_REPLY_OTHER_ROOT,   // "parse xml chld failed!"
};
// Parses the reply into *doc (release with xmlFreeDoc; nullptr when the bytes are not XML) and
// sets *root to its root element when that is named root_name.
ZND_XmlReplyStatus ZND_XmlReadReply(const char *xml, size_t len, const char *root_name, _xmlDoc **doc,
                                    const _xmlNode **root);
// True for an element whose name equals name in any letter case.
bool ZND_XmlIsElement(const _xmlNode *node, const char *name);
// The element's own text: its text and CDATA children joined. Entity references are not
// followed, so a crafted document cannot grow in memory.
std::string ZND_XmlOwnText(const _xmlNode *node);
