// The router's acceleration page: signs in to the router (rpcd session), then drives zunarod
// through its one bus method, "zunaro rpc", over uhttpd's /ubus JSON-RPC endpoint.
'use strict';

const ANON_SESSION = '00000000000000000000000000000000';
const REQUEST_TIMEOUT_MS = 60000;   // a login or a start runs cloud requests on the router
const POLL_MS = 1000;
const MODES = ['Automatic', 'OpenVPN', 'IPsec', 'L2TP', 'PPTP'];
const TUNNEL_DEVICES = ['', 'tun0', 'ipsec0', 'l2tp-vpn', 'pptp-vpn'];
const STATE_WORDS = {
  INIT: 'Not logged in to the service',
  LOGING: 'Logging in',
  LOGIN_OK: 'Logged in, not accelerating',
  ACCING: 'Dialing the tunnel',
  ACC_OK: 'Accelerating',
};

const $ = id => document.getElementById(id);

class SessionExpired extends Error {}

// A failure told in plain words; `state` is the daemon's control state when the reply named it.
class Refusal extends Error {
  constructor(message, state) {
    super(message);
    this.state = state;
  }
}

// The bus renders a table member that has no name (each node of the node list) without a key,
// which JSON does not allow. This reader takes such members too and keeps them, in order, under
// the key "" of their table; of repeated keys the last one counts, as in JSON.parse.
function readBusJson(text) {
  let at = 0;
  const fail = () => { throw new SyntaxError(`unreadable reply at ${at}`); };
  const skip = () => { while (at < text.length && ' \t\r\n'.includes(text[at])) at++; };
  const take = pattern => {
    pattern.lastIndex = at;
    const m = pattern.exec(text);
    if (!m) fail();
    at = pattern.lastIndex;
    return JSON.parse(m[0]);
  };
  const STRING = /"(?:[^"\\]|\\.)*"/y;
  const WORD = /true|false|null/y;
  const NUMBER = /-?\d+(?:\.\d+)?(?:[eE][+-]?\d+)?/y;

  function value() {
    skip();
    const c = text[at];
    if (c === '{' || c === '[') return container(c === '{');
    if (c === '"') return take(STRING);
    if (c === 't' || c === 'f' || c === 'n') return take(WORD);
    return take(NUMBER);
  }

  function container(isTable) {
    const out = isTable ? {} : [];
    const close = isTable ? '}' : ']';
    at++;
    skip();
    if (text[at] === close) { at++; return out; }
    for (;;) {
      const v = value();
      skip();
      if (!isTable) {
        out.push(v);
      } else if (text[at] === ':' && typeof v === 'string') {
        at++;
        out[v] = value();
        skip();
      } else {
        (out[''] = out[''] || []).push(v);
      }
      if (text[at] === ',') { at++; continue; }
      if (text[at] === close) { at++; return out; }
      fail();
    }
  }

  const v = value();
  skip();
  if (at !== text.length) fail();
  return v;
}

// --- talking to the router -----------------------------------------------------------------------

let session = sessionStorage.getItem('zunaro.session') || '';
let callId = 0;

// One ubus call through /ubus; the call's data, or a thrown SessionExpired or Refusal.
async function ubus(object, method, args, sid = session) {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), REQUEST_TIMEOUT_MS);
  let text;
  try {
    const res = await fetch('/ubus', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ jsonrpc: '2.0', id: ++callId, method: 'call', params: [sid, object, method, args] }),
      signal: abort.signal,
    });
    text = await res.text();
  } catch (e) {
    throw new Refusal('The router does not answer. Check that this device is connected to the router.');
  } finally {
    clearTimeout(timer);
  }
  let reply;
  try {
    reply = readBusJson(text);
  } catch (e) {
    throw new Refusal('The router sent a reply this page cannot read.');
  }
  if (reply.error) {
    if (reply.error.code === -32002) throw new SessionExpired();   // access denied: no valid session
    if (reply.error.code === -32000 && object === 'zunaro')
      throw new Refusal('The acceleration service is not running on the router. Restart it, or restart the router.');
    throw new Refusal(`The router refused the request: ${reply.error.message}.`);
  }
  const [status, data] = reply.result || [];
  if (status === 6) throw new SessionExpired();   // permission denied
  if (status === 7) throw new Refusal('The router did not answer in time.');
  if (status !== 0) throw new Refusal(`The router could not carry out the request (ubus status ${status}).`);
  return data || {};
}

// A request to zunarod: its result table, or a Refusal in the daemon's own words.
async function rpc(method, params = []) {
  const reply = await ubus('zunaro', 'rpc', { method, params: params.map(String), id: ++callId });
  if (reply.result) return reply.result;
  const err = reply.error || {};
  const data = err.data || {};
  throw new Refusal(resultText(method, err), data.status);
}

function resultText(method, err) {
  const what = {
    Login: 'The service refused the login',
    Logout: 'Logging out failed',
    AccStart: 'Acceleration could not start',
    AccStop: 'Acceleration could not stop',
  }[method] || 'The request failed';
  return `${what}: ${err.message || 'no reason given'}.`;
}

// Records a setting of the userinfo package for the restore after an abnormal exit of the daemon.
async function recordSettings(values) {
  await ubus('uci', 'set', { config: 'userinfo', section: '1', values });
  await ubus('uci', 'commit', { config: 'userinfo' });
}

let recordedState = '';
async function recordState(state) {
  if (!state || state === recordedState) return;
  await recordSettings({ currState: state });
  recordedState = state;
}

// --- showing -------------------------------------------------------------------------------------

function show(id, visible) { $(id).hidden = !visible; }

function notify(text, kind = 'error') {
  const n = $('notice');
  n.textContent = text;
  n.className = kind;
  n.hidden = !text;
}

function signedOut(message) {
  session = '';
  sessionStorage.removeItem('zunaro.session');
  stopPolling();
  for (const id of ['account', 'nodes', 'control', 'keylog', 'signout']) show(id, false);
  show('signin', true);
  $('router-pass').value = '';
  notify(message || '', 'info');
  $('router-pass').focus();
}

// Runs an action of the page, telling its failure; an expired session leads back to sign-in.
async function act(button, action) {
  if (button) button.disabled = true;
  try {
    await action();
  } catch (e) {
    if (e instanceof SessionExpired) signedOut('Your router session has ended. Please sign in again.');
    else if (e instanceof Refusal) {
      notify(e.message);
      if (!$('keylog').hidden) await loadKeyLog().catch(() => {});   // the daemon logs why
    }
    else notify(`Something went wrong on this page: ${e.message}`);
  } finally {
    if (button) button.disabled = false;
  }
}

let nodes = [];
let chosenNode = { id: '0', name: '' };

function renderNodes(inUse) {
  const rows = $('node-rows');
  rows.replaceChildren();
  nodes.forEach((n, i) => {
    const tr = document.createElement('tr');
    const id = String(n.nid);
    const chosen = id === chosenNode.id || (chosenNode.id === '0' && n.servername === chosenNode.name);
    if (chosen) tr.className = 'chosen';
    const name = document.createElement('td');
    const label = document.createElement('label');
    const radio = document.createElement('input');
    radio.type = 'radio';
    radio.name = 'node';
    radio.value = id;
    radio.checked = chosen;
    radio.addEventListener('change', () => {
      chosenNode = { id, name: n.servername };
      renderNodes(inUse);
    });
    label.append(radio, ` ${n.servername}`);
    if (inUse && inUse === n.servername) {
      const badge = document.createElement('span');
      badge.className = 'badge';
      badge.textContent = 'in use';
      label.append(' ', badge);
    }
    name.append(label);
    const answered = Number(n.ping) > 0;
    tr.append(name, cell(`#${i + 1}`), cell(answered ? `${n.ping} ms` : 'no answer'), cell(answered ? '0 %' : '100 %'));
    rows.append(tr);
  });
}

function cell(text) {
  const td = document.createElement('td');
  td.textContent = text;
  return td;
}

async function loadNodes(inUse) {
  const list = await rpc('GetNodeList');
  nodes = list[''] || [];
  if (!nodes.some(n => String(n.nid) === chosenNode.id) && nodes.length) {
    chosenNode = { id: String(nodes[0].nid), name: nodes[0].servername };
  }
  renderNodes(inUse);
}

async function loadKeyLog() {
  let text = '';
  try {
    text = (await ubus('file', 'read', { path: '/tmp/zunaro.log' })).data || '';
  } catch (e) {
    if (e instanceof SessionExpired) throw e;
    text = '';
  }
  $('keylog-empty').hidden = text !== '';
  const list = $('keylog-lines');
  list.replaceChildren();
  for (const line of text.split('\n').filter(Boolean).reverse()) {
    const li = document.createElement('li');
    li.textContent = line;
    list.append(li);
  }
  show('keylog', true);
}

// Shows everything for the daemon's current state.
async function refresh() {
  const st = await rpc('GetStatus');
  const state = st.status;
  const loggedIn = state !== 'INIT';
  show('account', true);
  show('login-form', !loggedIn);
  show('logged-in', loggedIn);
  show('nodes', loggedIn);
  show('control', loggedIn);
  $('svc-name').textContent = st.uName || '';
  $('svc-expire').textContent = st.uExpire ? `(valid until ${st.uExpire})` : '';
  $('start').disabled = state !== 'LOGIN_OK' && state !== 'ACC_OK';
  $('stop').disabled = state !== 'ACCING' && state !== 'ACC_OK';
  let inUse = '';
  if (state === 'ACC_OK') inUse = await showStatusCard(st);
  else show('status-card', false);
  if (loggedIn) await loadNodes(inUse);
  else $('svc-pass').value = '';
  if (state === 'LOGIN_OK' && (st.accState === '2' || st.accState === '3')) {
    notify(st.accState === '3'
      ? 'Acceleration stopped: the router cannot reach the internet.'
      : 'Acceleration failed: the tunnel to the node did not come up.');
  }
  await loadKeyLog();
  return st;
}

async function showStatusCard(st) {
  const res = await rpc('GetAccResult');
  const mode = res.mode ? Number(res.mode.id) : Number(st.accMode);
  const node = (res.node && res.node.servername) || st.accNodeName || '';
  $('st-state').textContent = STATE_WORDS[st.status] || st.status;
  $('st-node').textContent = node;
  $('st-mode').textContent = MODES[mode] || `mode ${mode}`;
  $('st-device').textContent = TUNNEL_DEVICES[mode] || 'unknown';
  $('st-ping').textContent = Number(res.ping) > 0 ? `${res.ping} ms` : 'no answer';
  $('st-loss').textContent = `${res.loss} %`;
  show('status-card', true);
  return node;
}

// --- dialing progress ----------------------------------------------------------------------------

let pollTimer = 0;
function stopPolling() {
  clearTimeout(pollTimer);
  pollTimer = 0;
}

// Polls the state about once a second until the tunnel is up or the start has failed.
function watchDialing(started) {
  stopPolling();
  const progress = $('progress');
  show('progress', true);
  const tick = () => act(null, async () => {
    const st = await rpc('GetStatus');
    const seconds = Math.round((Date.now() - started) / 1000);
    if (st.status === 'ACCING') {
      progress.textContent = `Dialing the tunnel… ${seconds} s`;
      pollTimer = setTimeout(tick, POLL_MS);
      return;
    }
    pollTimer = 0;
    await recordState(st.status);
    if (st.status === 'ACC_OK') {
      progress.textContent = `Accelerating: the tunnel came up in ${seconds} s.`;
      notify('');
    } else {
      progress.textContent = `The tunnel did not come up (after ${seconds} s).`;
    }
    await refresh();
  });
  progress.textContent = 'Dialing the tunnel… 0 s';
  pollTimer = setTimeout(tick, POLL_MS);
}

// --- the forms -----------------------------------------------------------------------------------

async function afterSignIn() {
  show('signin', false);
  show('signout', true);
  const st = await refresh();
  if (st.status === 'ACCING') watchDialing(Date.now());
}

function wire() {
  $('signin-form').addEventListener('submit', ev => {
    ev.preventDefault();
    act(ev.submitter, async () => {
      let reply;
      try {
        reply = await ubus('session', 'login',
          { username: $('router-user').value, password: $('router-pass').value }, ANON_SESSION);
      } catch (e) {
        if (e instanceof SessionExpired) throw new Refusal('Wrong router user name or password.');
        throw e;
      }
      session = reply.ubus_rpc_session;
      sessionStorage.setItem('zunaro.session', session);
      $('router-pass').value = '';
      notify('');
      await afterSignIn();
    });
  });

  $('signout').addEventListener('click', ev => act(ev.currentTarget, async () => {
    try {
      await ubus('session', 'destroy', {});
    } catch (e) {
      // the session may be gone already
    }
    signedOut('You have signed out of the router.');
  }));

  $('login-form').addEventListener('submit', ev => {
    ev.preventDefault();
    act(ev.submitter, async () => {
      const user = $('svc-user').value;
      const pass = $('svc-pass').value;
      $('svc-pass').value = '';
      const res = await rpc('Login', [user, pass]);
      await recordSettings({ historyname: user, historypass: pass });
      await recordState(res.status);
      notify('');
      await refresh();
    });
  });

  $('logout').addEventListener('click', ev => act(ev.currentTarget, async () => {
    stopPolling();
    show('progress', false);
    const res = await rpc('Logout');
    await recordState(res.status);
    notify('');
    await refresh();
  }));

  $('refresh-nodes').addEventListener('click', ev => act(ev.currentTarget, async () => {
    await rpc('FlushNodeList');
    await refresh();
  }));

  $('start-form').addEventListener('submit', ev => {
    ev.preventDefault();
    // Start stays disabled while the tunnel is dialed; the next refresh sets it again.
    act(null, async () => {
      $('start').disabled = true;
      const mode = $('mode').value;
      const reconn = $('reconn').checked ? '1' : '0';
      notify('');
      const started = Date.now();
      let res;
      try {
        res = await rpc('AccStart', [mode, chosenNode.id, chosenNode.name, reconn]);
      } catch (e) {
        $('start').disabled = false;
        if (e instanceof Refusal) await recordState(e.state);
        throw e;
      }
      await recordSettings({ mode, node: chosenNode.id, nodename: chosenNode.name, reconn });
      await recordState(res.status);
      $('stop').disabled = false;
      show('status-card', false);
      watchDialing(started);
    });
  });

  $('stop').addEventListener('click', ev => act(ev.currentTarget, async () => {
    stopPolling();
    let res;
    try {
      res = await rpc('AccStop');
    } catch (e) {
      if (e instanceof Refusal) await recordState(e.state);
      throw e;
    }
    await recordState(res.status);
    $('progress').textContent = 'Acceleration stopped.';
    show('progress', true);
    notify('');
    await refresh();
  }));
}

wire();
if (session) act(null, afterSignIn);
else signedOut('');
