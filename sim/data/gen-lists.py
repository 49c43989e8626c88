#!/usr/bin/python3
"""Writes the demo route lists and the demo cloud scenario of the simulated router.

The lists are generated so that they stay consistent with each other and with the addresses the
simulated internet serves (see sim/README.md); run this again after changing them:
    sim/data/gen-lists.py
"""
import json
import os

HERE = os.path.dirname(os.path.abspath(__file__))
GID = 757


def nets(prefix, count, mask="255.255.255.0", step=1, start=0):
    """count networks prefix.N.0 (or prefix.N for a three-part prefix) with the given mask."""
    out = []
    for i in range(start, start + count * step, step):
        out.append("%s.%d.0:%s" % (prefix, i, mask))
    return out


def small_nets(prefix, count, size):
    """count networks of `size` addresses inside prefix.0.0/16, e.g. /27s."""
    mask_last = 256 - size
    out = []
    for i in range(count):
        addr = i * size
        out.append("%s.%d.%d:255.255.255.%d" % (prefix, addr // 256, addr % 256, mask_last))
    return out


# Login servers of game 757 live in 198.19.0.0/16, its game servers in 198.18.0.0/16.
LOCAL_LOGIN = nets("198.19", 200) + small_nets("100.72", 100, 32)
CLOUD_LOGIN = nets("198.19", 240) + small_nets("100.72", 120, 32)
TRAFFIC_GROUPS = [
    nets("198.18", 100),
    nets("198.18", 100, start=100),
    None,                                   # a server group without networks
    small_nets("100.73", 120, 64),
]
OTHER_GAME = nets("100.100", 12)


def write_json(name, doc):
    with open(os.path.join(HERE, name), "w", encoding="utf-8") as f:
        json.dump(doc, f, indent=1)
        f.write("\n")


def main():
    write_json("zunaro/gameList.conf", {
        "code": 0,
        "version": "2024.06.01-demo",
        "gamelist": [
            {"gid": 100, "gname": "other game", "sroute": OTHER_GAME},
            {"gid": GID, "gname": "demo game", "sroute": LOCAL_LOGIN},
        ],
    })
    servers = []
    for i, group in enumerate(TRAFFIC_GROUPS):
        server = {"sid": i + 1, "name": "group-%d" % (i + 1)}
        if group is not None:
            server["mrange"] = group
        servers.append(server)
    write_json("zunaro/smartRoute.conf", {
        "code": 0,
        "version": "2024.06.01-demo",
        "rules": [
            {"gid": 100, "servers": [{"mrange": OTHER_GAME}]},
            {"gid": GID, "servers": servers},
        ],
    })
    write_json("demo-scenario.json", {
        "gid": GID,
        "accounts": {
            "demo": {
                "password": "zunaro-demo",
                "verdict": "Y",
                "expire": "2099-12-31_23:59:59",
                "type": 100,
                "pay_state": 1,
                "public_ip": "10.1.2.3",
                "onlines": 0,
                "force_offline_code": 0,
            },
        },
        "nodes": [
            {"id": 1, "serverip": "203.0.113.10", "servername": "tokyo-1", "level": 0,
             "openvport": 1194, "servermemo": "", "openvpndev": "tun", "protocal": 1},
            {"id": 2, "serverip": "203.0.113.11", "servername": "hongkong-1", "level": 0,
             "openvport": 1194, "servermemo": "", "openvpndev": "tun", "protocal": 1},
            {"id": 3, "serverip": "203.0.113.12", "servername": "singapore-1", "level": 1,
             "openvport": 1195, "servermemo": "", "openvpndev": "tun", "protocal": 1},
        ],
        "games": [
            {"gid": 100, "name": "other game", "routes": OTHER_GAME},
            {"gid": GID, "name": "demo game", "routes": CLOUD_LOGIN[:180], "gsroute": ["|".join(CLOUD_LOGIN[180:])]},
        ],
        "default": {"mode": "normal"},
    })


if __name__ == "__main__":
    main()
