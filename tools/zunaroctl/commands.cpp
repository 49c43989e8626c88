#include "commands.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <json-c/json.h>
#include <thread>
#include <vector>
#include "core/paths.h"
#include "password.h"
#include "platform/bus.h"
#include "platform/bus_client.h"
#include "state_record.h"

namespace {

using Value = ZND_BusReplyValue;

const char *const kModes[] = {"auto", "openvpn", "ipsec", "l2tp", "pptp"};
constexpr int kPollMs = 500;

std::string mode_name(long mode)
{
    if (mode >= 0 && mode < (long)(sizeof kModes / sizeof kModes[0]))
        return kModes[mode];
    return "mode " + std::to_string(mode);
}

// A decimal text as a number; false for anything else.
bool parse_long(const std::string &text, long *out)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    *out = strtol(text.c_str(), &end, 10);
    return !errno && *end == '\0';
}

std::string accstate_text(const std::string &accState)
{
    if (accState == "1")
        return "accelerating";
    if (accState == "2")
        return "failed, the WAN answers";
    if (accState == "3")
        return "failed, the WAN does not answer";
    return "not accelerating";
}

// One request and its reply.
struct Answer {
    Value value;
    std::string text;

    const Value *Member(const char *name) const
    {
        const Value *m = value.Find(name);
        return m && m->kind == Value::TABLE ? m : nullptr;
    }
    const Value *Result() const { return Member("result"); }
    // The state the daemon named after the request, refused or not.
    std::string State() const
    {
        if (const Value *r = Result())
            return r->Text("status");
        const Value *e = Member("error");
        const Value *data = e ? e->Find("data") : nullptr;
        return data ? data->Text("status") : "";
    }
};

std::string request_json(const char *method, const std::vector<std::string> &params)
{
    json_object *req = json_object_new_object();
    json_object_object_add(req, "method", json_object_new_string(method));
    json_object *list = json_object_new_array();
    for (const auto &p : params)
        json_object_array_add(list, json_object_new_string_len(p.data(), (int)p.size()));
    json_object_object_add(req, "params", list);
    json_object_object_add(req, "id", json_object_new_int(1));
    std::string out = json_object_to_json_string_ext(req, JSON_C_TO_STRING_PLAIN);
    json_object_put(req);
    return out;
}

// Calls "rpc"; ZCTL_EXIT_OK when the daemon answered with a result, else the exit code, with
// one line on standard error that says why (for a refusal only when say_refused). A refused
// request's reply is kept in *a.
int rpc(const ZCTL_Options &o, const char *method, const std::vector<std::string> &params, Answer *a,
        bool say_refused = true)
{
    bool replied = false;
    std::string json = request_json(method, params);
    int status = ZND_BusClientCallValue(o.socket, "zunaro", "rpc", json.c_str(), o.timeoutMs, &a->value,
                                        &a->text, &replied);
    std::fill(json.begin(), json.end(), '\0');   // it may hold the password
    if (status == ZND_BUS_STATUS_CONNECTION_FAILED || status == ZND_BUS_STATUS_NOT_FOUND) {
        fprintf(stderr, "zunaroctl: zunarod is not running\n");
        return ZCTL_EXIT_NOT_RUNNING;
    }
    if (status != ZND_BUS_STATUS_OK || !replied) {
        fprintf(stderr, "zunaroctl: %s: %s\n", method,
                ZND_BusStrError(status != ZND_BUS_STATUS_OK ? status : ZND_BUS_STATUS_NO_DATA));
        return ZCTL_EXIT_BUS;
    }
    if (o.json)
        printf("%s\n", a->text.c_str());
    if (a->Result())
        return ZCTL_EXIT_OK;
    if (!say_refused)
        return ZCTL_EXIT_REFUSED;
    const Value *e = a->Member("error");
    const Value *code = e ? e->Find("code") : nullptr;
    fprintf(stderr, "zunaroctl: %s refused: %s (code %lld), state %s\n", method,
            e ? e->Text("message").c_str() : "no result", code ? (long long)code->number : 0LL,
            a->State().c_str());
    return ZCTL_EXIT_REFUSED;
}

// After a request that may change the state: the state the reply names is written for the
// restore; failing that, the exit code says so.
int record_state(const Answer &a, int code)
{
    if (a.State().empty() || ZCTL_RecordState(a.State()))
        return code;
    fprintf(stderr, "zunaroctl: could not record the state %s in userinfo.1.currState\n", a.State().c_str());
    return code == ZCTL_EXIT_OK ? ZCTL_EXIT_NOT_RECORDED : code;
}

// A request that may change the state: unless nothing answered, the state its reply names is
// recorded, whether the request was refused or not.
int change_state(const ZCTL_Options &o, const char *method, const std::vector<std::string> &params, Answer *a)
{
    int code = rpc(o, method, params, a);
    if (code == ZCTL_EXIT_NOT_RUNNING || code == ZCTL_EXIT_BUS)
        return code;
    return record_state(*a, code);
}

// A state change without parameters, and one line that says where it ended.
int change_state_and_say(const ZCTL_Options &o, const char *method, const char *done)
{
    Answer a;
    int code = change_state(o, method, {}, &a);
    if ((code == ZCTL_EXIT_OK || code == ZCTL_EXIT_NOT_RECORDED) && !o.json)
        printf("%s, state %s\n", done, a.State().c_str());
    return code;
}

// Aligned "Label:  value" lines.
struct Fields {
    std::vector<std::pair<std::string, std::string>> rows;
    void Add(const char *label, const std::string &value) { rows.emplace_back(label, value); }
    void Print() const
    {
        size_t width = 0;
        for (const auto &r : rows)
            width = std::max(width, r.first.size());
        for (const auto &r : rows)
            printf("%-*s  %s\n", (int)width + 1, (r.first + ":").c_str(), r.second.c_str());
    }
};

std::string number_text(const Value *v)
{
    return v && v->kind == Value::NUMBER ? std::to_string(v->number) : std::string();
}

struct Node {
    long id;
    std::string name;
    long ping;
};

std::vector<Node> node_list(const Value &result)
{
    std::vector<Node> nodes;
    for (const auto &m : result.members) {
        if (m.kind != Value::TABLE || !m.name.empty())
            continue;
        const Value *nid = m.Find("nid"), *ping = m.Find("ping");
        nodes.push_back({nid ? (long)nid->number : 0, m.Text("servername"), ping ? (long)ping->number : 0});
    }
    return nodes;
}

std::string ping_text(long ping)
{
    // A node that answered no probe has no time.
    return ping > 0 ? std::to_string(ping) : "-";
}

} // namespace

int ZCTL_ModeByName(const char *name)
{
    for (size_t i = 0; i < sizeof kModes / sizeof kModes[0]; i++)
        if (strcmp(name, kModes[i]) == 0)
            return (int)i;
    return -1;
}

int ZCTL_Status(const ZCTL_Options &o)
{
    Answer a;
    int code = rpc(o, "GetStatus", {}, &a);
    if (code != ZCTL_EXIT_OK || o.json)
        return code;
    const Value &r = *a.Result();
    long mode = 0;
    Fields f;
    f.Add("State", a.State());
    f.Add("Acceleration", accstate_text(r.Text("accState")));
    f.Add("Mode", parse_long(r.Text("accMode"), &mode) ? mode_name(mode) : r.Text("accMode"));
    if (!r.Text("accNodeId").empty() && r.Text("accNodeId") != "0")
        f.Add("Node", r.Text("accNodeId") + " " + r.Text("accNodeName"));
    f.Add("User", r.Text("uName"));
    f.Add("Account type", r.Text("uType"));
    f.Add("In use elsewhere", r.Text("uConflict") == "0" || r.Text("uConflict").empty() ? "no" : "yes");
    f.Add("Expires", r.Text("uExpire"));
    f.Add("Server time", r.Text("uServerTime"));
    f.Print();
    return code;
}

int ZCTL_Login(const ZCTL_Options &o, const char *user)
{
    std::string password;
    if (!ZCTL_ReadPassword(&password)) {
        fprintf(stderr, "zunaroctl: no password given\n");
        return ZCTL_EXIT_USAGE;
    }
    Answer a;
    int code = change_state(o, "Login", {user, password}, &a);
    if (a.Result() && !ZCTL_RecordAccount(user, password)) {
        fprintf(stderr, "zunaroctl: could not record the account in userinfo.1.historyname/historypass\n");
        code = ZCTL_EXIT_NOT_RECORDED;
    }
    ZCTL_Forget(&password);
    if (!a.Result() || o.json)
        return code;
    const Value &r = *a.Result();
    printf("Logged in as %s, state %s\n", r.Text("uName").c_str(), a.State().c_str());
    Fields f;
    f.Add("Account type", r.Text("uType"));
    f.Add("Expires", r.Text("uExpire"));
    f.Add("Public address", r.Text("realIp"));
    if (r.Text("uConflict") != "0")
        f.Add("In use elsewhere", "yes");
    f.Print();
    return code;
}

int ZCTL_Logout(const ZCTL_Options &o)
{
    return change_state_and_say(o, "Logout", "Logged out");
}

int ZCTL_Nodes(const ZCTL_Options &o)
{
    Answer a;
    int code = rpc(o, "GetNodeList", {}, &a);
    if (code != ZCTL_EXIT_OK || o.json)
        return code;
    std::vector<Node> nodes = node_list(*a.Result());
    if (nodes.empty()) {
        printf("No nodes.\n");
        return code;
    }
    size_t idw = 4, namew = 4;
    for (const auto &n : nodes) {
        idw = std::max(idw, std::to_string(n.id).size());
        namew = std::max(namew, n.name.size());
    }
    // The daemon lists the nodes best first.
    printf("%3s  %*s  %-*s  %9s\n", "#", (int)idw, "NODE", (int)namew, "NAME", "PING (ms)");
    for (size_t i = 0; i < nodes.size(); i++)
        printf("%3zu  %*ld  %-*s  %9s\n", i + 1, (int)idw, nodes[i].id, (int)namew, nodes[i].name.c_str(),
               ping_text(nodes[i].ping).c_str());
    return code;
}

namespace {

// The node of a start: the best (""), an id or a name, found in the daemon's list so that the
// request and the recorded settings name it by both.
int resolve_node(const ZCTL_Options &o, const std::string &node, long *id, std::string *name)
{
    ZCTL_Options quiet = o;
    quiet.json = false;
    Answer a;
    long wanted = 0;
    bool by_id = parse_long(node, &wanted);
    int code = rpc(quiet, "GetNodeList", {}, &a, false);
    if (code == ZCTL_EXIT_REFUSED && (node.empty() || by_id)) {
        // No list in this state: AccStart, refused in the same states, says why.
        *id = node.empty() ? 0 : wanted;
        name->clear();
        return ZCTL_EXIT_OK;
    }
    if (code == ZCTL_EXIT_REFUSED)
        fprintf(stderr, "zunaroctl: no node list in state %s\n", a.State().c_str());
    if (code != ZCTL_EXIT_OK)
        return code;
    std::vector<Node> nodes = node_list(*a.Result());
    for (const auto &n : nodes) {
        if (node.empty() || (by_id ? n.id == wanted : n.name == node)) {
            *id = node.empty() ? 0 : n.id;
            *name = n.name;
            return ZCTL_EXIT_OK;
        }
    }
    if (node.empty()) {   // no list: the daemon picks
        *id = 0;
        name->clear();
        return ZCTL_EXIT_OK;
    }
    fprintf(stderr, "zunaroctl: no node %s in the node list (see zunaroctl nodes)\n", node.c_str());
    return ZCTL_EXIT_REFUSED;
}

// Follows the dialing through GetStatus until ACC_OK, a state without acceleration, or the end of
// the wait; every state seen is printed and recorded.
int follow_start(const ZCTL_Options &o, const std::string &first, int waitS)
{
    using Clock = std::chrono::steady_clock;
    auto begin = Clock::now(), end = begin + std::chrono::seconds(waitS);
    std::string state = first;
    Answer last;
    for (;;) {
        if (state == "ACC_OK")
            return ZCTL_EXIT_OK;
        if (state != "ACCING") {
            if (!o.json)
                printf("Acceleration failed: %s\n", accstate_text(last.Result() ? last.Result()->Text("accState") : "").c_str());
            return ZCTL_EXIT_ACC_FAILED;
        }
        if (Clock::now() >= end) {
            fprintf(stderr, "zunaroctl: still %s after %d s\n", state.c_str(), waitS);
            return ZCTL_EXIT_WAIT_TIMEOUT;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        ZCTL_Options quiet = o;
        quiet.json = false;
        Answer a;
        int code = rpc(quiet, "GetStatus", {}, &a);
        if (code != ZCTL_EXIT_OK)
            return code;
        last = a;
        if (a.State() == state)
            continue;
        state = a.State();
        code = record_state(a, ZCTL_EXIT_OK);
        if (o.json)
            printf("%s\n", a.text.c_str());
        else
            printf("%5.1f s  %s\n", std::chrono::duration<double>(Clock::now() - begin).count(), state.c_str());
        if (code != ZCTL_EXIT_OK)
            return code;
    }
}

} // namespace

int ZCTL_Start(const ZCTL_Options &o, int mode, const std::string &node, bool reconnect, int waitS)
{
    long id = 0;
    std::string name;
    int code = resolve_node(o, node, &id, &name);
    if (code != ZCTL_EXIT_OK)
        return code;
    Answer a;
    code = change_state(o, "AccStart", {std::to_string(mode), std::to_string(id), name, reconnect ? "1" : "0"}, &a);
    if (!a.Result())
        return code;
    if (!ZCTL_RecordSettings(mode, id, name, reconnect)) {
        fprintf(stderr, "zunaroctl: could not record the settings in userinfo.1\n");
        code = ZCTL_EXIT_NOT_RECORDED;
    }
    if (!o.json)
        printf("Starting %s on node %s%s, reconnection %s\n%5.1f s  %s\n", mode_name(mode).c_str(),
               id ? (std::to_string(id) + " ").c_str() : "", name.empty() ? "(best)" : name.c_str(),
               reconnect ? "on" : "off", 0.0, a.State().c_str());
    if (waitS <= 0)
        return code;
    int outcome = follow_start(o, a.State(), waitS);
    return outcome != ZCTL_EXIT_OK ? outcome : code;
}

int ZCTL_Stop(const ZCTL_Options &o)
{
    return change_state_and_say(o, "AccStop", "Acceleration stopped");
}

int ZCTL_Result(const ZCTL_Options &o)
{
    Answer a;
    int code = rpc(o, "GetAccResult", {}, &a);
    if (code != ZCTL_EXIT_OK || o.json)
        return code;
    const Value &r = *a.Result();
    const Value *node = r.Find("node"), *mode = r.Find("mode");
    Fields f;
    f.Add("Node", node ? number_text(node->Find("nid")) + " " + node->Text("servername") : "");
    f.Add("Mode", mode && mode->Find("id") ? mode_name((long)mode->Find("id")->number) : "");
    f.Add("Ping", ping_text(r.Find("ping") ? (long)r.Find("ping")->number : 0) + " ms");
    f.Add("Loss", r.Text("loss") + " %");
    f.Print();
    return code;
}

int ZCTL_Log()
{
    FILE *f = fopen(ZND_PATH_KEY_LOG, "r");
    if (!f) {
        printf("The key log %s is empty.\n", ZND_PATH_KEY_LOG);
        return ZCTL_EXIT_OK;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        fwrite(buf, 1, n, stdout);
    fclose(f);
    return ZCTL_EXIT_OK;
}

int ZCTL_Debug(const ZCTL_Options &o, bool on)
{
    Answer a;
    int code = rpc(o, on ? "DebugOn" : "DebugOff", {}, &a);
    if (code == ZCTL_EXIT_OK && !o.json)
        printf("Debug logging %s\n", on ? "on" : "off");
    return code;
}
