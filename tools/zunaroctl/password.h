// The account password of a login, never taken from the command line, where any user sees it.
#pragma once
#include <string>

// From the terminal without echo when standard input is one, else the first line of standard
// input. False when none was given.
bool ZCTL_ReadPassword(std::string *password);
// Overwrites the text before it is dropped.
void ZCTL_Forget(std::string *secret);
