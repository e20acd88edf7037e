// Tool calls through the official clients: results and failures, calls in
// flight together, progress, cancellation of a child process group, image
// blocks, and roots in both kinds of revision.
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { ListRootsRequestSchema } from '@modelcontextprotocol/sdk/types.js';

import { groupAlive, legacyClient, modernClient, RawServer, textJson, waitFor } from './support.mjs';

const scratch = mkdtempSync(join(tmpdir(), 'vorn-mcp-'));

test('results carry the answer object twice; failures are error results', async () => {
  const client = await legacyClient();
  try {
    const echo = await client.callTool({ name: 'echo', arguments: { text: 'hé', tags: ['a'] } });
    assert.equal(echo.isError, false);
    assert.deepEqual(echo.structuredContent, { ok: true, text: 'hé', tags: ['a'] });
    assert.deepEqual(textJson(echo), echo.structuredContent);

    const failed = await client.callTool({ name: 'fail', arguments: {} });
    assert.equal(failed.isError, true);
    assert.equal(failed.structuredContent.ok, false);

    const exploded = await client.callTool({ name: 'explode', arguments: {} });
    assert.equal(exploded.isError, true);
    assert.match(exploded.content[0].text, /exploded on purpose/);

    await assert.rejects(client.callTool({ name: 'nope', arguments: {} }), /-32602|Unknown tool/);
  } finally {
    await client.close();
  }
});

test('a slow call blocks neither a ping nor a quick call', async () => {
  const client = await legacyClient();
  try {
    const order = [];
    const slow = client.callTool({ name: 'slow', arguments: { seconds: 3 } }).then((r) => {
      order.push('slow');
      return r;
    });
    await client.ping();
    const echo = await client.callTool({ name: 'echo', arguments: { text: 'quick' } });
    order.push('echo');
    assert.equal(echo.structuredContent.text, 'quick');
    assert.equal((await slow).structuredContent.ok, true);
    assert.deepEqual(order, ['echo', 'slow']);
  } finally {
    await client.close();
  }
});

test('a call with a progress token hears about every 2 s while it lasts', async () => {
  const client = await legacyClient();
  try {
    const seen = [];
    const result = await client.callTool({ name: 'slow', arguments: { seconds: 5 } }, undefined, {
      onprogress: (p) => seen.push(p),
      timeout: 30000,
    });
    assert.equal(result.structuredContent.ok, true);
    assert.ok(seen.length >= 2 && seen.length <= 3, JSON.stringify(seen));
    for (let i = 1; i < seen.length; ++i) assert.ok(seen[i].progress > seen[i - 1].progress);
    assert.equal(seen[0].message, 'sleeping');
  } finally {
    await client.close();
  }
});

test('cancelling through the SDK ends the call and its whole process group', async () => {
  const client = await legacyClient();
  try {
    const file = join(scratch, 'group-sdk');
    const controller = new AbortController();
    const call = client.callTool({ name: 'slow', arguments: { seconds: 60, group_file: file } },
                                 undefined, { signal: controller.signal });
    assert.ok(await waitFor(() => { try { return readFileSync(file, 'utf8').endsWith('\n'); } catch { return false; } }));
    const group = Number(readFileSync(file, 'utf8'));
    assert.ok(groupAlive(group));
    controller.abort('enough');
    await assert.rejects(call);
    assert.ok(await waitFor(() => !groupAlive(group)), 'the group outlived the cancellation');
    await client.ping();
  } finally {
    await client.close();
  }
});

test('a cancelled call is never answered', async () => {
  const raw = new RawServer();
  try {
    await raw.initialize();
    const file = join(scratch, 'group-raw');
    raw.send({ jsonrpc: '2.0', id: 41, method: 'tools/call',
               params: { name: 'slow', arguments: { seconds: 60, group_file: file } } });
    assert.ok(await waitFor(() => { try { return readFileSync(file, 'utf8').endsWith('\n'); } catch { return false; } }));
    raw.send({ jsonrpc: '2.0', method: 'notifications/cancelled', params: { requestId: 41 } });
    assert.ok(await waitFor(() => !groupAlive(Number(readFileSync(file, 'utf8')))));
    raw.send({ jsonrpc: '2.0', id: 42, method: 'ping' });
    assert.deepEqual((await raw.answer(42)).result, {});
    raw.closeInput();
    assert.equal((await raw.exit).code, 0);
    assert.equal(raw.lines.length, 0, 'something followed the ping');
  } finally {
    raw.kill();
  }
});

test('an image block decodes to the PNG the tool made', async () => {
  const client = await legacyClient();
  try {
    const result = await client.callTool({ name: 'image', arguments: {} });
    const image = result.content.find((c) => c.type === 'image');
    assert.equal(image.mimeType, 'image/png');
    const png = Buffer.from(image.data, 'base64');
    assert.equal(png.subarray(1, 4).toString(), 'PNG');
    assert.equal(png.readUInt32BE(16), 3);  // IHDR width
    assert.equal(png.readUInt32BE(20), 2);  // IHDR height
    assert.deepEqual(textJson(result), { ok: true, width: 3, height: 2 });
  } finally {
    await client.close();
  }
});

test('handshake roots are asked for and followed when they change', async () => {
  let roots = [{ uri: 'file:///srv/one', name: 'One' }];
  const client = await legacyClient({ capabilities: { roots: { listChanged: true } } }, (c) =>
    c.setRequestHandler(ListRootsRequestSchema, async () => ({ roots })));
  const seen = async () => (await client.callTool({ name: 'roots', arguments: {} })).structuredContent;
  try {
    // The first call waits for the client's first answer.
    assert.deepEqual((await seen()).roots, [{ uri: 'file:///srv/one', name: 'One', path: '/srv/one' }]);
    roots = [{ uri: 'file:///srv/two%20b' }];
    await client.sendRootsListChanged();
    // The server asks again on the notice; its answer lands a moment later.
    let latest;
    for (const end = Date.now() + 10000; Date.now() < end; ) {
      latest = (await seen()).roots;
      if (latest[0].uri !== 'file:///srv/one') break;
    }
    assert.deepEqual(latest, [{ uri: 'file:///srv/two%20b', name: '', path: '/srv/two b' }]);
  } finally {
    await client.close();
  }
});

test('stateless roots travel with the retried call', async () => {
  const client = await modernClient({ capabilities: { roots: {} } });
  try {
    client.setRequestHandler('roots/list', async () => ({ roots: [{ uri: 'file:///m', name: 'M' }] }));
    const answer = await client.callTool({ name: 'roots', arguments: {} });
    assert.deepEqual(answer.structuredContent, {
      ok: true, offered: true, roots: [{ uri: 'file:///m', name: 'M', path: '/m' }],
    });
  } finally {
    await client.close();
  }
});
