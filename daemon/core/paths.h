// Every file the daemon reads or writes, in one place.
#pragma once

#define ZND_PATH_KEY_LOG "/tmp/zunaro.log"
#define ZND_PATH_SERVER_REPLY "/var/run/tmpServerReply"
#define ZND_PATH_LOGIN_ROUTE_LIST "/etc/zunaro/gameList.conf"
#define ZND_PATH_TRAFFIC_ROUTE_LIST "/etc/zunaro/smartRoute.conf"
#define ZND_PATH_OPENVPN_USERPASS "/etc/openvpn/userpass.txt"
#define ZND_PATH_IPSEC_CONF "/etc/ipsec.conf"
#define ZND_PATH_IPSEC_SECRETS "/etc/ipsec.secrets"
#define ZND_PATH_LED_STATE_B "/sys/class/leds/state_b/brightness"
#define ZND_PATH_LED_STATE_G "/sys/class/leds/state_g/brightness"
#define ZND_PATH_INIT_OPENVPN "/etc/init.d/openvpn"
#define ZND_PATH_OPENVPN_START_TICKET "/var/run/zunaro-openvpn-start"
#define ZND_PATH_INIT_IPSEC "/etc/init.d/ipsec"
#define ZND_PATH_INIT_LED "/etc/init.d/led"
#define ZND_PATH_MTD2 "/dev/mtd2"
