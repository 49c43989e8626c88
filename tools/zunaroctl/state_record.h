// What the daemon reads back after an abnormal exit, recorded by the client that changed it: the
// daemon itself never writes the userinfo package. Each returns false when the package could not
// be written (no package file, no section "1", no space).
#pragma once
#include <string>

// userinfo.1.currState: the state name a reply reported.
bool ZCTL_RecordState(const std::string &state);
// userinfo.1.historyname and historypass, after a login that worked.
bool ZCTL_RecordAccount(const std::string &user, const std::string &password);
// userinfo.1.mode, node, nodename and reconn, after an acceleration start that was taken.
bool ZCTL_RecordSettings(int mode, long node, const std::string &nodeName, bool reconnect);
