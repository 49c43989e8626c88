// Routing netlink: a socket handle, attribute builders and an acknowledged request, in the shape of
// the classic rtnetlink helper library so that callers read the same on every platform.
#pragma once
#include <cstdint>
#include <linux/netlink.h>

struct mnl_socket;

struct ZND_Rtnl {
    int fd;                 // -1 while closed
    struct mnl_socket *nl;
    uint32_t portid;
    uint32_t seq;
};

// Opens a NETLINK_ROUTE socket without multicast groups; 0 or -1.
int ZND_RtnlOpen(ZND_Rtnl *rth);
void ZND_RtnlClose(ZND_Rtnl *rth);
// Sends n with NLM_F_ACK added and a fresh sequence number, then waits for the acknowledgement.
// Returns 0 when the kernel accepted it, a negative value otherwise.
int ZND_RtnlTalk(ZND_Rtnl *rth, struct nlmsghdr *n);
// Appends an attribute; -1 when it does not fit in maxlen bytes.
int ZND_AddAttrL(struct nlmsghdr *n, int maxlen, int type, const void *data, int alen);
int ZND_AddAttr32(struct nlmsghdr *n, int maxlen, int type, uint32_t data);

// Test seam: when set, ZND_RtnlTalk hands the final request bytes (NLM_F_ACK and sequence
// included) to the hook instead of the kernel and returns the hook's result.
typedef int (*ZND_RtnlTalkHook)(const struct nlmsghdr *n);
ZND_RtnlTalkHook ZND_RtnlSetTalkHook(ZND_RtnlTalkHook hook);
