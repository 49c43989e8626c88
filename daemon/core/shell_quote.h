// Passing untrusted text to the shell: quoting, and the shapes of text that may go in bare.
#pragma once
#include <string>

// The text for use between single quotes: every ' becomes '\'' so that nothing can end the quoting.
std::string ZND_ShellEscapeSingle(const char *text);
// A dotted IPv4 address (four decimal octets), nothing else.
bool ZND_IsDottedIpv4(const char *text);
// An interface name of 1 to 15 characters of [A-Za-z0-9._-] that does not start with '-'.
bool ZND_IsPlainIfName(const char *text);
