// The sim's stand-in for procd's "system" object, which LuCI's header and status page ask for the
// board's name and the system's figures; the simulated router runs no procd. Run with ucode
// inside the router's web root (sim/lib/luci-web.sh).
'use strict';

import { connect } from 'ubus';
import { readfile } from 'fs';
import * as uloop from 'uloop';

uloop.init();
const bus = connect();
if (!bus)
	die('no bus');

function hostname() {
	return trim(readfile('/etc/hostname') ?? 'zunaro-router');
}

function uptime() {
	return int(split(readfile('/proc/uptime') ?? '0', ' ')[0]);
}

// uhttpd's /ubus adds the caller's session to every call; an object made here accepts only
// the arguments its policy lists.
const session = { ubus_rpc_session: '' };

bus.publish('system', {
	board: {
		args: session,
		call: () => ({
			hostname: hostname(), system: 'simulated router', model: 'zunaro sim', board_name: 'zunaro-sim',
			rootfs_type: 'ext4', kernel: trim(readfile('/proc/sys/kernel/osrelease') ?? ''),
			release: { distribution: 'OpenWrt', version: 'sim', revision: 'sim', target: 'x86/64',
				description: 'zunaro simulated router' }
		})
	},
	info: {
		args: session,
		call: () => ({ localtime: time(), uptime: uptime(), load: [ 0, 0, 0 ],
			memory: { total: 0, free: 0, shared: 0, buffered: 0 }, swap: { total: 0, free: 0 } })
	}
});
uloop.run();
