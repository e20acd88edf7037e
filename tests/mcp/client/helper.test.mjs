// vorn-computer-use --mcp through the official clients. Without a display
// or session bus (the minimal environment clients start servers with) the
// affected calls say what is missing; on the test desktop (with-desktop,
// the GTK fixture) every tool answers what the one-shot helper answers,
// observe in its compact form and screenshot with its image.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { legacyClient, lintTools, waitFor } from './support.mjs';

const helper = process.env.VORN_MCP_HELPER;
if (!helper) throw new Error('VORN_MCP_HELPER names no helper');
const fixture = process.env.VORN_FIXTURE;
const onDesktop = Boolean(process.env.DISPLAY && process.env.DBUS_SESSION_BUS_ADDRESS && fixture);
const scratch = mkdtempSync(join(tmpdir(), 'vorn-mcp-helper-'));

const bare = { command: helper, args: ['--mcp'] };  // the SDK's minimal environment
const desktop = { command: helper, args: ['--mcp'], env: process.env };

function oneShot(request) {
  return JSON.parse(spawnSync(helper, ['--json', JSON.stringify(request)], { encoding: 'utf8' }).stdout);
}

function pngSize(block) {
  assert.equal(block.mimeType, 'image/png');
  const png = Buffer.from(block.data, 'base64');
  assert.equal(png.subarray(1, 4).toString(), 'PNG');
  return { width: png.readUInt32BE(16), height: png.readUInt32BE(20) };
}

test('without a display or session bus each affected call names what is missing', async () => {
  const client = await legacyClient({}, () => {}, bare);
  try {
    const windows = await client.callTool({ name: 'list_windows', arguments: {} });
    assert.equal(windows.isError, true);
    assert.match(windows.structuredContent.message, /DISPLAY/);
    const observe = await client.callTool({ name: 'observe', arguments: { pid: 1 } });
    assert.equal(observe.isError, true);
    assert.match(observe.structuredContent.message, /DBUS_SESSION_BUS_ADDRESS/);
    const ping = await client.callTool({ name: 'ping', arguments: {} });
    assert.equal(ping.isError, false);
  } finally {
    await client.close();
  }
});

test('the tool list passes the strict lint', async () => {
  for (const era of ['legacy', 'modern']) {
    const { code, stdout, stderr } = await lintTools(era, bare);
    assert.equal(code, 0, stderr);
    assert.doesNotMatch(stderr, /Warning:|Error:|portability/, stderr);
    assert.equal(JSON.parse(stdout).result.tools.length, 7);
  }
});

test('on the desktop every tool answers as the one-shot helper does', { skip: !onDesktop }, async () => {
  const log = join(scratch, 'fixture.log');
  const app = spawn(fixture, ['--log', log, '--position', '60,60', '--size', '600x400'], { stdio: 'ignore' });
  const client = await legacyClient({}, () => {}, desktop);
  try {
    const readyLine = () => readFileSync(log, 'utf8').split('\n').find((l) => l.includes('"ready"'));
    assert.ok(await waitFor(() => { try { return Boolean(readyLine()); } catch { return false; } }, 30000));
    const ready = JSON.parse(readyLine());
    const xid = ready.windows.main.xid;
    const names = (await client.listTools()).tools.map((t) => t.name);
    assert.deepEqual(names, ['ping', 'list_windows', 'observe', 'perform', 'keypress', 'click_xy', 'screenshot']);

    const ping = await client.callTool({ name: 'ping', arguments: {} });
    assert.deepEqual(Object.keys(ping.structuredContent).sort(), Object.keys(oneShot({ op: 'ping' })).sort());

    const windows = await client.callTool({ name: 'list_windows', arguments: {} });
    assert.deepEqual(windows.structuredContent, oneShot({ op: 'list_windows' }));
    const mine = windows.structuredContent.windows.find((w) => w.window_number === xid);
    assert.ok(mine, JSON.stringify(windows.structuredContent));

    const request = { pid: mine.pid, window_title: 'Vorn Fixture' };
    const observed = await client.callTool({ name: 'observe', arguments: request });
    assert.equal(observed.isError, false, JSON.stringify(observed.structuredContent));
    const full = oneShot({ op: 'observe', ...request });
    assert.ok(!('elements' in observed.structuredContent));
    const { elements, state_id: _s, ...rest } = full;
    const { state_id: stateId, ...mcpRest } = observed.structuredContent;
    assert.deepEqual(mcpRest, rest);
    const lines = observed.content[0].text.trimEnd().split('\n');
    assert.deepEqual(lines.map((l) => l.split(' ')[0]), elements.map((e) => e.ref));
    const button = elements.find((e) => /button/i.test(e.role) && !/toggle|radio|check/i.test(e.role) && e.enabled);
    assert.ok(button, `the fixture has a button: ${elements.map((e) => e.role)}`);

    const pressed = await client.callTool({ name: 'perform', arguments: { action: 'press', ref: button.ref, state_id: stateId } });
    assert.equal(pressed.isError, false, JSON.stringify(pressed.structuredContent));
    assert.equal(pressed.structuredContent.outcome, 'worked');

    for (const [name, args] of [['keypress', { key: 'shift' }], ['click_xy', { x: 70, y: 70 }]]) {
      const answer = await client.callTool({ name, arguments: args });
      assert.deepEqual(answer.structuredContent, oneShot({ op: name, ...args }), name);
    }

    const shot = await client.callTool({ name: 'screenshot', arguments: { window_number: xid } });
    assert.equal(shot.isError, false, JSON.stringify(shot.structuredContent));
    assert.deepEqual(pngSize(shot.content.find((c) => c.type === 'image')), shot.structuredContent.image_size);
    const small = await client.callTool({ name: 'screenshot', arguments: { window_number: xid, max_image_edge: 100 } });
    const { width, height } = pngSize(small.content.find((c) => c.type === 'image'));
    assert.equal(Math.max(width, height), 100);
    assert.deepEqual(small.structuredContent.image_size, shot.structuredContent.image_size);
  } finally {
    await client.close();
    app.kill();
  }
});
