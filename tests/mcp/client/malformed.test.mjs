// Bytes no SDK would send, written straight to the server: each gets the
// JSON-RPC error it calls for (or, for a notification, nothing), the session
// goes on, and standard output only ever holds messages. Closing standard
// input ends the server and the calls it was running.
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { groupAlive, RawServer, waitFor } from './support.mjs';

test('each malformed message gets its error, and the session goes on', async () => {
  const raw = new RawServer();
  try {
    await raw.initialize();
    const cases = [
      ['{"jsonrpc":"2.0","id":1,"method":', null, -32700],
      [Buffer.from([0x7b, 0xff, 0xfe, 0x7d]).toString('latin1'), null, -32700],
      ['[{"jsonrpc":"2.0","id":2,"method":"ping"}]', null, -32600],
      ['[]', null, -32600],
      ['{"jsonrpc":"2.0","id":null,"method":"ping"}', null, -32600],
      ['{"id":3,"method":"ping"}', 3, -32600],
      ['{"jsonrpc":"2.0","id":4,"method":"no/such/method"}', 4, -32601],
      ['{"jsonrpc":"2.0","id":5,"method":"tools/call","params":[1]}', 5, -32602],
      ['{"jsonrpc":"2.0","id":"6","method":"tools/call","params":{"name":"nope"}}', '6', -32602],
    ];
    for (const [line, id, code] of cases) {
      raw.send(line);
      const { message } = await raw.next();
      assert.equal(message.jsonrpc, '2.0', line);
      assert.equal(message.id, id, line);
      assert.equal(message.error.code, code, line);
    }
    // Never answered: a call without an id, unknown notifications, blank lines.
    raw.send('{"jsonrpc":"2.0","method":"tools/call","params":{"name":"echo","arguments":{"text":"x"}}}');
    raw.send('{"jsonrpc":"2.0","method":"notifications/whatever"}');
    raw.send('');
    raw.send('{"jsonrpc":"2.0","id":7,"method":"ping"}\r');
    assert.deepEqual((await raw.answer(7)).result, {});
    // An id comes back exactly as it was written.
    raw.send('{"jsonrpc":"2.0","id":12345678901234567890123,"method":"ping"}');
    assert.match((await raw.next()).line, /"id":12345678901234567890123,/);
  } finally {
    raw.kill();
  }
});

test('a child of a tool reads nothing of the client and writes nothing into its stream', async () => {
  const raw = new RawServer();
  try {
    await raw.initialize();
    // In one write: the child would read the ping if it shared our input.
    raw.child.stdin.write(
        '{"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"inherit"}}\n' +
        '{"jsonrpc":"2.0","id":2,"method":"ping"}\n');
    const ids = [(await raw.next()).message.id, (await raw.next()).message.id].sort();
    assert.deepEqual(ids, [1, 2]);
    assert.ok(await waitFor(() => raw.stderr.includes('leaked')), 'the child printed nowhere');
  } finally {
    raw.kill();
  }
});

test('closing standard input ends the server, its calls and their children', async () => {
  const raw = new RawServer();
  const file = join(mkdtempSync(join(tmpdir(), 'vorn-mcp-')), 'group');
  try {
    await raw.initialize();
    raw.send({ jsonrpc: '2.0', id: 1, method: 'tools/call',
               params: { name: 'slow', arguments: { seconds: 60, group_file: file } } });
    assert.ok(await waitFor(() => { try { return readFileSync(file, 'utf8').endsWith('\n'); } catch { return false; } }));
    // The last line needs no line feed.
    raw.child.stdin.write('{"jsonrpc":"2.0","id":2,"method":"ping"}');
    raw.closeInput();
    const exit = await raw.exit;
    assert.deepEqual(exit, { code: 0, signal: null });
    assert.deepEqual(raw.lines.map((l) => JSON.parse(l).id), [2], 'only the ping is answered');
    const group = Number(readFileSync(file, 'utf8'));
    assert.ok(await waitFor(() => !groupAlive(group)), 'the group outlived the server');
    assert.equal(raw.stderr, '');
  } finally {
    raw.kill();
  }
});

test('a server that has only just started exits at once on closed input', async () => {
  const raw = new RawServer();
  raw.closeInput();
  assert.deepEqual(await raw.exit, { code: 0, signal: null });
  assert.equal(raw.lines.length, 0);
});
