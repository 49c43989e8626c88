'use strict';
'require view';
'require rpc';
'require poll';
'require dom';

// The game acceleration of the router: the service account, the nodes, starting and stopping
// with the dialing progress, the status and the key log. Everything comes from the object
// "luci.zunaro" (rpcd), which never hands out the account password and records every change for
// the restore after a crash.

const callStatus = rpc.declare({ object: 'luci.zunaro', method: 'status', reject: true });
const callNodes = rpc.declare({ object: 'luci.zunaro', method: 'nodes', reject: true });
const callKeylog = rpc.declare({ object: 'luci.zunaro', method: 'keylog', reject: true });
const callLogin = rpc.declare({ object: 'luci.zunaro', method: 'login', params: [ 'username', 'password' ], reject: true });
const callLogout = rpc.declare({ object: 'luci.zunaro', method: 'logout', reject: true });
const callStart = rpc.declare({ object: 'luci.zunaro', method: 'start', params: [ 'mode', 'node', 'reconnect' ], reject: true });
const callStop = rpc.declare({ object: 'luci.zunaro', method: 'stop', reject: true });

// Text from the router (node names, the account, key log lines, the daemon's words) is always
// handed to E() and dom.content() inside an array: a bare string would be set as HTML.
const MODES = [ _('Automatic'), 'OpenVPN', 'IPsec', 'L2TP', 'PPTP' ];
const STATES = {
	INIT: _('Not logged in'),
	LOGING: _('Logging in'),
	LOGIN_OK: _('Logged in, not accelerating'),
	ACCING: _('Dialing the tunnel'),
	ACC_OK: _('Accelerating')
};
const ACC_STATES = {
	'1': _('accelerating'),
	'2': _('the last start failed; the WAN answers'),
	'3': _('the WAN does not answer')
};

// Seconds between polls: LuCI's while nothing moves, faster while dialing or acting, and longer
// after each failed poll (the page keeps asking through errors).
const POLL_IDLE = L.env.pollinterval || 5;
const POLL_BUSY = 1;
const POLL_MAX_BACKOFF = 30;

const STYLE = `
#zunaro .zunaro-name, #zunaro .zunaro-log li { overflow-wrap: anywhere; word-break: break-word; }
#zunaro .zunaro-nodes { width: 100%; table-layout: fixed; }
#zunaro .zunaro-nodes td, #zunaro .zunaro-nodes th { padding: .4em .5em; vertical-align: top; text-align: left; }
#zunaro .zunaro-nodes th { border-bottom: 1px solid #ccc; }
#zunaro .zunaro-nodes .zunaro-rank { width: 3em; }
#zunaro .zunaro-nodes .zunaro-ping { width: 6em; text-align: right; }
#zunaro .zunaro-nodes tr.zunaro-chosen { font-weight: bold; }
#zunaro :focus-visible { outline: 3px solid #0b3d91; outline-offset: 2px; box-shadow: 0 0 0 5px #fff; }
#zunaro .zunaro-fields { display: grid; grid-template-columns: minmax(8em, max-content) minmax(0, 1fr); gap: .3em 1em; }
#zunaro .zunaro-fields > * { min-width: 0; overflow-wrap: anywhere; }
#zunaro .zunaro-controls { display: flex; flex-wrap: wrap; gap: .5em 1.5em; align-items: center; margin: .8em 0; }
#zunaro .zunaro-log { font-family: monospace; max-height: 20em; overflow-y: auto; list-style: none; margin: 0; padding: 0; }
#zunaro .zunaro-log li { padding: .1em 0 .1em 1.5em; text-indent: -1.5em; }
#zunaro input[type=text], #zunaro input[type=password] { max-width: 100%; }
`;

// What a failed request means. A refusal (-32002) is first checked by LuCI with "session access":
// an ended session raises SessionError (LuCI then asks to log in again), a session without the
// right gives the refusal itself.
function errorKind(err) {
	const text = String(err?.message ?? err);
	if (err?.name == 'SessionError')
		return 'expired';
	if (/-32002|ubus code 6:|Access denied|Permission denied/.test(text))
		return 'denied';
	if (/timed out|timeout|ubus code 7:/i.test(text))
		return 'timeout';
	return 'unreachable';
}

return view.extend({
	handleSaveApply: null,
	handleSave: null,
	handleReset: null,

	load() {
		return Promise.all([
			callStatus().catch(e => ({ failed: e })),
			callKeylog().catch(() => null)
		]);
	},

	render([ status, keylog ]) {
		this.canAct = L.hasViewPermission() === true;
		this.state = null;
		this.nodes = [];
		this.failures = 0;
		this.due = 0;
		this.busy = null;        // the action under way, by name
		this.waiting = false;    // an action timed out: the router is still working on it
		this.dirty = false;      // the user changed the start settings since the last poll
		this.dialSince = null;
		this.lastKeylog = null;

		const el = {};
		const field = (key, label) => [ E('span', label), el[key] = E('span', { 'id': `zunaro-${key}` }, '–') ];
		// Plain handlers: the buttons' state is the page's, not re-enabled when a request ends.
		const button = (key, cls, label, fn) => el[key] = E('button', {
			'class': `cbi-button ${cls}`, 'id': `zunaro-${key}`, 'click': ev => { ev.preventDefault(); fn.call(this); }
		}, [ label ]);
		this.el = el;

		el.notice = E('div', { 'id': 'zunaro-notice', 'role': 'status', 'aria-live': 'polite', 'style': 'display:none' });
		el.user = E('input', { 'type': 'text', 'id': 'zunaro-user', 'autocomplete': 'username', 'class': 'cbi-input-text' });
		el.pass = E('input', { 'type': 'password', 'id': 'zunaro-pass', 'autocomplete': 'current-password', 'class': 'cbi-input-password' });
		el.loginForm = E('form', { 'id': 'zunaro-login', 'submit': ev => { ev.preventDefault(); this.handleLogin(); } }, [
			E('div', { 'class': 'zunaro-controls' }, [
				E('label', [ _('Account'), ' ', el.user ]),
				E('label', [ _('Password'), ' ', el.pass ]),
				el.loginBtn = E('button', { 'class': 'cbi-button cbi-button-action', 'id': 'zunaro-login-button', 'type': 'submit' }, _('Log in'))
			])
		]);
		el.account = E('div', { 'id': 'zunaro-account', 'style': 'display:none' }, [
			E('p', [ _('Logged in as'), ' ', el.accountName = E('bdi'), ' ' ]),
			E('div', { 'class': 'zunaro-controls' }, [ button('logout', 'cbi-button-negative', _('Log out'), this.handleLogout) ])
		]);

		el.nodeRows = E('tbody');
		el.mode = E('select', { 'id': 'zunaro-mode', 'class': 'cbi-input-select', 'change': () => this.dirty = true },
			MODES.map((m, i) => E('option', { 'value': i }, m)));
		el.reconnect = E('input', { 'type': 'checkbox', 'id': 'zunaro-reconnect', 'change': () => this.dirty = true });
		el.progress = E('p', { 'id': 'zunaro-progress', 'role': 'status', 'aria-live': 'polite' });
		el.accel = E('div', { 'id': 'zunaro-accel', 'style': 'display:none' }, [
			E('table', { 'class': 'zunaro-nodes', 'id': 'zunaro-nodes' }, [
				E('thead', [ E('tr', [
					E('th', { 'class': 'zunaro-rank' }, [ '#' ]), E('th', [ _('Node') ]), E('th', { 'class': 'zunaro-ping' }, [ _('Ping') ])
				]) ]),
				el.nodeRows
			]),
			E('div', { 'class': 'zunaro-controls' }, [
				E('label', [ _('Mode'), ' ', el.mode ]),
				E('label', [ el.reconnect, ' ', _('Reconnect when the tunnel drops') ])
			]),
			E('div', { 'class': 'zunaro-controls' }, [
				button('start', 'cbi-button-apply', _('Start'), this.handleStart),
				button('stop', 'cbi-button-negative', _('Stop'), this.handleStop),
				el.startNote = E('span', { 'id': 'zunaro-start-note' })
			]),
			el.progress
		]);

		el.log = E('ul', { 'class': 'zunaro-log', 'id': 'zunaro-keylog' });

		const root = this.root = E('div', { 'id': 'zunaro' }, [
			E('style', STYLE),
			E('h2', _('Game acceleration')),
			E('div', { 'class': 'cbi-map-descr' }, _('Logs the router in to the acceleration service and steers game traffic through a tunnel to the chosen node.')),
			this.canAct ? '' : E('div', { 'class': 'alert-message notice', 'id': 'zunaro-readonly' },
				_('Your account may watch the acceleration but not change it.')),
			el.notice,
			E('div', { 'class': 'cbi-section' }, [
				E('h3', _('Status')),
				E('div', { 'class': 'zunaro-fields' }, [
					...field('state', _('State')), ...field('acc', _('Acceleration')), ...field('node', _('Node')),
					...field('modeNow', _('Mode')), ...field('expire', _('Account expires'))
				])
			]),
			E('div', { 'class': 'cbi-section' }, [ E('h3', _('Service account')), el.loginForm, el.account ]),
			el.accelSection = E('div', { 'class': 'cbi-section', 'style': 'display:none' }, [ E('h3', _('Acceleration')), el.accel ]),
			E('div', { 'class': 'cbi-section' }, [ E('h3', _('Key log, newest first')), el.log ])
		]);

		if (!this.canAct)
			for (const c of [ el.user, el.pass, el.loginBtn, el.logout, el.start, el.stop, el.mode, el.reconnect ])
				c.disabled = true;

		this.showStatus(status);
		this.showKeylog(keylog);
		poll.add(L.bind(this.tick, this), 1);
		return root;
	},

	// Called every second by LuCI's poller; asks the router when the next poll is due.
	tick() {
		if (this.polling || Date.now() < this.due)
			return Promise.resolve();
		this.polling = true;
		return this.refresh().finally(() => {
			this.polling = false;
			const busy = this.busy || this.waiting || this.state == 'ACCING';
			const wait = this.failures ? Math.min(POLL_MAX_BACKOFF, 2 ** this.failures) : (busy ? POLL_BUSY : POLL_IDLE);
			this.due = Date.now() + wait * 1000;
		});
	},

	refresh() {
		return callStatus().then(status => {
			this.failures = 0;
			if (this.pollNotice)
				this.say(null);
			this.showStatus(status);
			const logged = status.state == 'LOGIN_OK' || status.state == 'ACC_OK';
			return Promise.all([
				logged ? callNodes().then(r => this.showNodes(r)).catch(() => null) : this.showNodes(null),
				callKeylog().then(r => this.showKeylog(r)).catch(() => null)
			]).then(() => this.root.dataset.polls = +(this.root.dataset.polls ?? 0) + 1);
		}).catch(err => {
			this.failures++;
			const kind = errorKind(err);
			if (kind == 'expired')
				this.say(null);
			else if (kind == 'denied')
				this.say(_('Your account lacks the right to see the acceleration.'), 'warning', true);
			else if (this.busy || this.waiting)
				this.say(_('The router is still working on your request; the page shows the outcome when it is done.'), 'notice', true);
			else
				this.say(_('The router does not answer right now; the page keeps asking (next try in %d s).')
					.format(Math.min(POLL_MAX_BACKOFF, 2 ** this.failures)), 'warning', true);
		});
	},

	// A notice; one that a poll raised (fromPoll) goes with the next poll that succeeds.
	say(text, kind, fromPoll) {
		const n = this.el.notice;
		this.pollNotice = !!(text && fromPoll);
		if (!text) {
			n.style.display = 'none';
			n.textContent = '';
			return;
		}
		n.className = `alert-message ${kind || 'notice'}`;
		n.style.display = '';
		dom.content(n, Array.isArray(text) ? text : [ text ]);
	},

	showStatus(status) {
		const el = this.el;
		if (!status || status.failed) {
			if (status?.failed && errorKind(status.failed) == 'denied')
				this.say(_('Your account lacks the right to see the acceleration.'), 'warning');
			return;
		}
		if (!status.running) {
			this.state = null;
			el.state.textContent = _('The acceleration service (zunarod) is not running');
			this.say(_('The acceleration service is not running on the router.'), 'warning', true);
			this.updateButtons();
			return;
		}
		const was = this.state, state = status.state;
		this.state = state;
		if (this.waiting && !this.busy) {
			this.waiting = false;
			this.say(null);
		}

		el.state.textContent = STATES[state] ?? state;
		el.acc.textContent = ACC_STATES[status.accState] ?? _('not accelerating');
		const s = status.settings ?? {};
		const accelerating = state == 'ACCING' || state == 'ACC_OK';
		dom.content(el.node, accelerating ? E('bdi', [ status.accNodeName || s.nodename || '–' ]) : '–');
		el.modeNow.textContent = accelerating ? (MODES[+status.accMode] ?? status.accMode) : '–';
		el.expire.textContent = status.uExpire || '–';

		const logged = state == 'LOGIN_OK' || state == 'ACCING' || state == 'ACC_OK';
		el.loginForm.style.display = logged ? 'none' : '';
		el.account.style.display = logged ? '' : 'none';
		el.accelSection.style.display = logged ? '' : 'none';
		el.accel.style.display = logged ? '' : 'none';
		dom.content(el.accountName, [ status.uName || s.user || '' ]);
		if (!logged && !el.user.value && s.user && document.activeElement !== el.user)
			el.user.value = s.user;

		// The controls show what runs until the user changes them.
		if (!this.dirty || was != state) {
			this.dirty = false;
			el.mode.value = String(s.mode ?? 0);
			el.reconnect.checked = s.reconn !== false;
			this.chosen = s.node || 0;
			this.markChosen();
		}
		this.showProgress(was, status);
		this.updateButtons();
	},

	showProgress(was, status) {
		const p = this.el.progress, state = status.state;
		if (state == 'ACCING') {
			this.dialSince ??= Date.now();
			p.textContent = _('Dialing the tunnel… %d s').format(Math.round((Date.now() - this.dialSince) / 1000));
		}
		else if (state == 'ACC_OK' && (was == 'ACCING' || this.dialSince != null)) {
			p.textContent = this.dialSince != null
				? _('The tunnel came up in %d s.').format(Math.max(1, Math.round((Date.now() - this.dialSince) / 1000)))
				: _('The tunnel is up.');
			this.dialSince = null;
		}
		else if (state == 'LOGIN_OK' && (was == 'ACCING' || was == 'ACC_OK')) {
			this.dialSince = null;
			p.textContent = status.accState == '3' ? _('Acceleration stopped: the WAN does not answer.')
				: status.accState == '2' ? _('Acceleration failed; the WAN answers.') : _('Acceleration stopped.');
		}
		else if (state == 'ACC_OK' && !p.textContent)
			p.textContent = _('The tunnel is up.');
	},

	updateButtons() {
		// While a request runs, or outlasted its time-out, nothing else is sent.
		const el = this.el, state = this.state, idle = !this.busy && !this.waiting && this.canAct;
		el.start.disabled = !idle || state == 'ACCING' || !(state == 'LOGIN_OK' || state == 'ACC_OK');
		el.stop.disabled = !idle || !(state == 'ACCING' || state == 'ACC_OK');
		el.logout.disabled = !idle;
		el.loginBtn.disabled = !idle;
		el.start.textContent = state == 'ACC_OK' ? _('Switch to these settings') : _('Start');
		el.startNote.textContent = state == 'ACC_OK' ? _('Switching redials the tunnel with the chosen node and mode.') : '';
	},

	// The node rows are kept and updated in place, so that focus stays where the user is.
	showNodes(reply) {
		const nodes = reply?.nodes ?? [];
		const same = nodes.length == this.nodes.length && nodes.every((n, i) => n.id == this.nodes[i].id && n.name == this.nodes[i].name);
		if (!same) {
			const focused = document.activeElement?.name == 'zunaro-node' ? +document.activeElement.value : null;
			dom.content(this.el.nodeRows, nodes.map(n => {
				const radio = E('input', {
					'type': 'radio', 'name': 'zunaro-node', 'value': n.id, 'id': `zunaro-node-${n.id}`,
					'disabled': this.canAct ? null : '',
					'change': () => { this.chosen = n.id; this.dirty = true; this.markChosen(); }
				});
				return E('tr', { 'data-node': n.id }, [
					E('td', { 'class': 'zunaro-rank' }, `#${n.rank}`),
					E('td', { 'class': 'zunaro-name' }, E('label', { 'for': `zunaro-node-${n.id}` }, [ radio, ' ', E('bdi', [ n.name ]) ])),
					E('td', { 'class': 'zunaro-ping' }, '')
				]);
			}));
			if (focused != null)
				document.getElementById(`zunaro-node-${focused}`)?.focus();
		}
		this.nodes = nodes;
		nodes.forEach((n, i) => {
			this.el.nodeRows.children[i].lastChild.textContent = n.ping != null ? `${n.ping} ms` : _('no answer');
		});
		this.markChosen();
	},

	markChosen() {
		const chosen = this.chosen || this.nodes[0]?.id || 0;
		for (const row of this.el.nodeRows.children) {
			const on = +row.dataset.node == chosen;
			row.classList.toggle('zunaro-chosen', on);
			const radio = row.querySelector('input');
			if (radio.checked != on)
				radio.checked = on;
		}
	},

	showKeylog(reply) {
		if (!reply)
			return;   // keep what is shown
		const key = `${reply.size}:${reply.lines?.[0]}`;
		if (key == this.lastKeylog)
			return;
		this.lastKeylog = key;
		dom.content(this.el.log, reply.lines?.length
			? reply.lines.map(l => E('li', [ E('bdi', [ l ]) ]))
			: E('li', [ _('Nothing logged yet.') ]));
	},

	// One action: the buttons rest while it runs, its outcome is told in the daemon's words, and
	// a time-out says the router is still at it; the polls then show where it ended.
	act(name, call, done) {
		this.busy = name;
		this.updateButtons();
		this.say(null);
		this.due = 0;
		return call().then(r => {
			if (r.code == 0)
				done?.(r);
			else if (r.code == 7)
				this.say([ _('Done, but the router could not record it for a restart:'), ' ', E('bdi', [ r.note ?? '' ]) ], 'warning');
			else if (r.code == 3)
				this.say(_('The acceleration service is not running on the router.'), 'warning');
			else
				this.say([ E('bdi', [ r.message ?? r.note ?? _('Refused') ]), r.message && r.note && r.note.indexOf(r.message) < 0 ? [ ' (', E('bdi', [ r.note ]), ')' ] : '' ], 'warning');
		}).catch(err => {
			const kind = errorKind(err);
			if (kind == 'expired')
				this.say(null);
			else if (kind == 'denied')
				this.say(_('Your account may not do this: it lacks the right to change the acceleration.'), 'warning');
			else if (kind == 'timeout') {
				this.waiting = true;
				this.el.state.textContent = _('Working on your request');
				this.say(_('The router is still working on your request; the page shows the outcome when it is done.'), 'notice');
			}
			else
				this.say(_('The router did not answer; the page shows its state as soon as it does.'), 'warning');
		}).finally(() => {
			this.busy = null;
			this.due = 0;
			this.updateButtons();
		});
	},

	handleLogin() {
		const user = this.el.user.value.trim(), pass = this.el.pass.value;
		this.el.pass.value = '';
		if (!user || !pass)
			return this.say(_('Enter the account and its password.'), 'warning');
		return this.act('login', () => callLogin(user, pass));
	},

	handleLogout() {
		return this.act('logout', () => callLogout());
	},

	handleStart() {
		const mode = +this.el.mode.value, node = this.chosen || 0, reconnect = this.el.reconnect.checked;
		this.dialSince = Date.now();
		return this.act('start', () => callStart(mode, node, reconnect), () => { this.dirty = false; });
	},

	handleStop() {
		return this.act('stop', () => callStop());
	}
});
