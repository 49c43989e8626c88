// Reading the XML replies of the cloud service: from memory, without network access or entity
// expansion, element names compared without regard to case.
#pragma once
#include <cstddef>
#include <string>

struct _xmlDoc;
struct _xmlNode;

// The parsed document (release with xmlFreeDoc), or nullptr when the bytes are not XML.
_xmlDoc *ZND_XmlReadReply(const char *xml, size_t len);
// True for an element whose name equals name in any letter case.
bool ZND_XmlIsElement(const _xmlNode *node, const char *name);
// The element's own text: its text and CDATA children joined. Entity references are not
// followed, so a crafted document cannot grow in memory.
std::string ZND_XmlOwnText(const _xmlNode *node);
