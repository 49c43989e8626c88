// Passing untrusted text to the shell.
#pragma once
#include <string>

// The text for use between single quotes: every ' becomes '\'' so that nothing can end the quoting.
std::string ZND_ShellEscapeSingle(const char *text);
