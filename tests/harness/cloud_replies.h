// Canned cloud replies, as the service sends them, for the tests and the fuzz targets that script
// the cloud.
#pragma once

// Login reply: accepted, type 100, paid, no other device online.
inline constexpr char kLoginOk[] = "Y|2027-01-31_23:59:59|x|100|x|2026-12-08_10:00:00|1|x|203.0.113.7|0";
// The same with the account's tunnel online elsewhere.
inline constexpr char kLoginInUse[] = "Y|2027-01-31_23:59:59|x|100|x|2026-12-08_10:00:00|1|x|203.0.113.7|1";
inline constexpr char kLoginRefused[] = "N|||||||||";
// Three nodes (ids 7, 8, 9; names tokyo, osaka, seoul) that no probe reaches: their order after a
// fetch is tokyo, osaka, seoul (level and update flag decide).
inline constexpr char kNodesXml[] =
    "<servers>"
    "<server><id>9</id><serverip>198.51.100.9</serverip><servername>seoul</servername>"
    "<servermemo>update/twitch</servermemo><openvpndev>tun</openvpndev><openvport>1194</openvport></server>"
    "<server><id>8</id><serverip>198.51.100.8</serverip><servername>osaka</servername><level>1</level>"
    "<openvpndev>tun</openvpndev><openvport>1194</openvport></server>"
    "<server><id>7</id><serverip>198.51.100.7</serverip><servername>tokyo</servername>"
    "<openvpndev>tun</openvpndev><openvport>1194</openvport></server>"
    "</servers>";
// Two login routes of game 757.
inline constexpr char kGamesXml[] = "<games><game><gid>757</gid>"
                                    "<gsroute>203.0.113.0:255.255.255.0|198.51.100.0:255.255.255.0</gsroute></game></games>";
