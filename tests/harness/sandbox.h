// Test sandbox: the test process moves into fresh mount and network namespaces where /etc is a
// private copy-on-write layer over the machine's, and /run (/var/run) and /tmp are empty.
// The machine's own files and network are never touched.
#pragma once
#include <string>

// 0 inside the sandbox; 77 (the skip code) when it cannot be made, e.g. without root.
int ZND_TestEnterSandbox(std::string *why);

// Covers /dev with a private one that holds the machine's entries except /dev/log, where the
// test's own system log can then listen. Once per process; false (with why) when it cannot.
bool ZND_TestPrivateDev(std::string *why);

// Small file helpers for tests.
bool ZND_TestWriteFile(const std::string &path, const std::string &content, int mode = 0644);
std::string ZND_TestReadFile(const std::string &path);
bool ZND_TestFileExists(const std::string &path);
// Runs a shell command in the sandbox and returns its exit code (-1 when it did not exit).
int ZND_TestSh(const std::string &cmd);
// Runs a shell command and returns its standard output.
std::string ZND_TestShOut(const std::string &cmd);
// The text single-quoted for the shell, whatever it holds.
std::string ZND_TestQuote(const std::string &text);
