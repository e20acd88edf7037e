// vorn-agent-runner --mcp through the official clients: the handshake in
// both kinds of revision, the tool list under the Inspector's strict lint,
// every tool answering what the one-shot runner answers, the workspace
// ceiling and the client's roots, progress, cancellation of a shell's
// process group, calls in flight together, malformed messages and the end
// of input.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, realpathSync, symlinkSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { test } from 'node:test';

import { ListRootsRequestSchema } from '@modelcontextprotocol/sdk/types.js';

import {
  groupAlive, legacyClient, lintTools, modernClient, RawServer, textJson, waitFor,
} from './support.mjs';

const runner = process.env.VORN_MCP_RUNNER;
if (!runner) throw new Error('VORN_MCP_RUNNER names no runner');
const scratch = realpathSync(mkdtempSync(join(tmpdir(), 'vorn-mcp-runner-')));

// Fixed dates make two sandboxes' commits the same commits.
const env = {
  ...process.env,
  GIT_AUTHOR_DATE: '2026-01-01T00:00:00Z',
  GIT_COMMITTER_DATE: '2026-01-01T00:00:00Z',
};

function git(dir, ...args) {
  const run = spawnSync('git', args, { cwd: dir, env, encoding: 'utf8' });
  assert.equal(run.status, 0, `git ${args.join(' ')}: ${run.stderr}`);
  return run.stdout;
}

/** A repository with one commit and a bare remote beside it. */
function sandbox(name) {
  const top = join(scratch, name);
  const ws = join(top, 'ws');
  mkdirSync(ws, { recursive: true });
  git(top, 'init', '-q', '--bare', '-b', 'main', 'remote.git');
  git(ws, 'init', '-q', '-b', 'main');
  git(ws, 'config', 'user.name', 'Vorn Tests');
  git(ws, 'config', 'user.email', 'tests@vorn.invalid');
  git(ws, 'commit', '-q', '--allow-empty', '-m', 'start');
  git(ws, 'remote', 'add', 'origin', join(top, 'remote.git'));
  return ws;
}

function runnerAt(ws, ...more) {
  return { command: runner, args: ['--mcp', '--workspace', ws, ...more], env };
}

// Everything either program could differ in: the process id and the
// sandbox's own folder (its workspace and remote).
function comparable(answer, ws) {
  const { pid, ...rest } = answer;
  assert.equal(typeof pid, 'number');
  return JSON.parse(JSON.stringify(rest).replaceAll(dirname(ws), '<sandbox>'));
}

function oneShot(request, ws) {
  const run = spawnSync(runner, ['--json', JSON.stringify({ ...request, workspace_root: ws })],
                        { cwd: ws, env, encoding: 'utf8' });
  return JSON.parse(run.stdout);
}

const diff = `diff --git a/b.txt b/b.txt
new file mode 100644
--- /dev/null
+++ b/b.txt
@@ -0,0 +1 @@
+bee
`;

// Each tool at least once, in an order that leaves every one something to do.
const session = [
  ['ping', {}],
  ['write_file', { path: 'a.txt', content: 'one\n' }],
  ['mkdir', { path: 'dir/sub' }],
  ['delete_file', { path: 'dir' }],
  ['shell', { command: 'pwd; echo err >&2; cat' }],
  ['apply_diff', { diff }],
  ['git_stage', { paths: ['a.txt', 'b.txt'] }],
  ['git_unstage', { path: 'b.txt' }],
  ['git_stage', { paths: ['b.txt'] }],
  ['git_commit', { message: 'two files' }],
  ['git_branch_create', { name: 'feature' }],
  ['git_branch_switch', { name: 'main' }],
  ['git_branch_list', {}],
  ['write_file', { path: 'a.txt', content: 'changed\n' }],
  ['git_diff', { scope: 'unstaged' }],
  ['git_restore', { paths: ['a.txt'] }],
  ['git_status', {}],
  ['git_log', { count: 5 }],
  ['git_push', { branch: 'main' }],
  ['git_worktree_add', { worktree_path: '.vorn/worktrees/w1', branch: 'agent-1' }],
  ['write_file', { path: '.vorn/worktrees/w1/c.txt', content: 'sea\n' }],
  ['git_deliver', { worktree_path: '.vorn/worktrees/w1', branch: 'agent-1' }],
  ['git_worktree_remove', { paths: ['.vorn/worktrees/w1'] }],
  ['write_file', { path: 'a.txt' }],
  ['git_commit', { message: 'nothing staged' }],
];

test('every tool answers what the one-shot runner answers', async () => {
  const viaMcp = sandbox('mcp');
  const viaOneShot = sandbox('one-shot');
  const client = await legacyClient({}, () => {}, runnerAt(viaMcp));
  try {
    const { tools } = await client.listTools();
    const names = tools.map((t) => t.name);
    assert.deepEqual(new Set(session.map(([name]) => name)), new Set(names));
    for (const tool of tools) {
      assert.ok(!('extra_roots' in tool.inputSchema.properties), tool.name);
      assert.ok(!(tool.inputSchema.required ?? []).includes('workspace_root'), tool.name);
    }
    for (const [name, args] of session) {
      const result = await client.callTool({ name, arguments: args });
      const expected = oneShot({ op: name, ...args }, viaOneShot);
      assert.deepEqual(comparable(result.structuredContent, viaMcp),
                       comparable(expected, viaOneShot), name);
      assert.deepEqual(textJson(result), result.structuredContent, name);
      assert.equal(result.isError, !expected.ok, name);
    }
  } finally {
    await client.close();
  }
});

test('the tool list passes the strict lint in both kinds of revision', async () => {
  const ws = sandbox('lint');
  for (const era of ['legacy', 'modern']) {
    const { code, stdout, stderr } = await lintTools(era, runnerAt(ws));
    assert.equal(code, 0, stderr);
    assert.doesNotMatch(stderr, /Warning:|Error:|portability/, stderr);
    assert.equal(JSON.parse(stdout).result.tools.length, 20);
  }
});

test('every handshake revision lists the tools', async () => {
  const ws = sandbox('eras');
  for (const version of ['2024-11-05', '2025-03-26', '2025-06-18', '2025-11-25']) {
    const raw = new RawServer(runnerAt(ws));
    try {
      assert.equal((await raw.initialize(version)).result.protocolVersion, version);
      raw.send({ jsonrpc: '2.0', id: 1, method: 'tools/list' });
      const { tools } = (await raw.answer(1)).result;
      assert.equal(tools.length, 20, version);
      raw.send({ jsonrpc: '2.0', id: 2, method: 'tools/call', params: { name: 'git_status', arguments: {} } });
      const { result } = await raw.answer(2);
      assert.equal(JSON.parse(result.content[0].text).stdout, '## main\n', version);
      // Structured results exist from 2025-06-18 on.
      assert.equal('structuredContent' in result, version >= '2025-06-18', version);
    } finally {
      raw.kill();
    }
  }
});

test('the stateless client calls tools too', async () => {
  const ws = sandbox('modern');
  const client = await modernClient({}, runnerAt(ws));
  try {
    const result = await client.callTool({ name: 'git_status', arguments: {} });
    assert.equal(result.isError, false);
    assert.equal(result.structuredContent.stdout, '## main\n');
  } finally {
    await client.close();
  }
});

test('bad arguments and refusals are error results the model reads', async () => {
  const ws = sandbox('failures');
  const client = await legacyClient({}, () => {}, runnerAt(ws));
  const call = async (name, args) => client.callTool({ name, arguments: args });
  try {
    const missing = await call('write_file', { path: 'x' });
    assert.equal(missing.isError, true);
    assert.equal(missing.structuredContent.error, 'content is required');
    const wrongType = await call('git_log', { count: 'many' });
    assert.equal(wrongType.isError, true);
    assert.match(wrongType.structuredContent.error, /^invalid JSON request: /);
    const exited = await call('shell', { command: 'exit 3' });
    assert.equal(exited.isError, true);
    assert.equal(exited.structuredContent.exit_status, 3);
    // extra_roots is not offered: sent anyway, it widens nothing.
    const widened = await call('write_file', { path: join(scratch, 'escaped'), content: 'x',
                                               extra_roots: [scratch] });
    assert.equal(widened.structuredContent.error, 'path_outside_workspace');
    await assert.rejects(call('no_such_tool', {}), /-32602/);
  } finally {
    await client.close();
  }
});

test('the workspace folders are a ceiling: a root outside, even through a link, is refused', async () => {
  const ws = sandbox('ceiling');
  const second = join(scratch, 'second');
  mkdirSync(join(second, 'inner'), { recursive: true });
  symlinkSync(scratch, join(ws, 'out-link'));
  const client = await legacyClient({}, () => {}, runnerAt(ws, '--workspace', second));
  const pwd = async (root) => (await client.callTool({
    name: 'shell', arguments: root === undefined ? { command: 'pwd' } : { command: 'pwd', workspace_root: root },
  })).structuredContent;
  try {
    assert.equal((await pwd()).stdout, `${ws}\n`);
    assert.equal((await pwd(join(second, 'inner'))).stdout, `${second}/inner\n`);
    // A relative root starts from the first folder.
    mkdirSync(join(ws, 'inner'));
    assert.equal((await pwd('inner')).stdout, `${ws}/inner\n`);
    assert.equal((await pwd('~/')).ok, false);
    for (const outside of ['/', scratch, join(ws, '..'), join(ws, 'out-link'), join(ws, '.git'), 'out-link']) {
      const answer = await pwd(outside);
      assert.equal(answer.ok, false, outside);
      assert.match(answer.error, /^path_outside_workspace/, outside);
    }
  } finally {
    await client.close();
  }
});

test('with --sandbox first, a shell call writes in the workspace and nowhere else', async () => {
  const ws = sandbox('sandboxed');
  const outside = join(dirname(ws), 'outside-file');
  const target = runnerAt(ws);
  const client = await legacyClient({}, () => {}, { ...target, args: ['--sandbox', ...target.args] });
  try {
    const inside = await client.callTool({
      name: 'shell', arguments: { command: 'echo in > made-here && cat made-here' },
    });
    assert.equal(inside.structuredContent.stdout, 'in\n');
    const out = await client.callTool({ name: 'shell', arguments: { command: `echo x > ${outside}` } });
    assert.equal(out.isError, true);
    assert.equal(existsSync(outside), false);
  } finally {
    await client.close();
  }
});

test('client roots narrow the ceiling and never widen it', async () => {
  const ws = sandbox('roots');
  mkdirSync(join(ws, 'sub'));
  const withRoots = async (roots, check) => {
    const client = await legacyClient({ capabilities: { roots: {} } }, (c) =>
      c.setRequestHandler(ListRootsRequestSchema, async () => ({ roots })), runnerAt(ws));
    try {
      await check(async (args) => (await client.callTool({ name: 'shell', arguments: { command: 'pwd', ...args } })).structuredContent);
    } finally {
      await client.close();
    }
  };
  await withRoots([{ uri: `file://${ws}/sub` }], async (pwd) => {
    assert.equal((await pwd({})).stdout, `${ws}/sub\n`);
    assert.match((await pwd({ workspace_root: ws })).error, /^path_outside_workspace/);
  });
  await withRoots([{ uri: 'file:///' }], async (pwd) => {
    assert.equal((await pwd({})).stdout, `${ws}\n`);
    assert.match((await pwd({ workspace_root: '/' })).error, /^path_outside_workspace/);
  });
  await withRoots([{ uri: `file://${scratch}/elsewhere` }], async (pwd) => {
    assert.match((await pwd({})).error, /^path_outside_workspace/);
  });
});

test('a 5 s shell reports progress; two calls run together', async () => {
  const ws = sandbox('progress');
  const client = await legacyClient({}, () => {}, runnerAt(ws));
  try {
    const seen = [];
    const order = [];
    const slow = client.callTool({ name: 'shell', arguments: { command: 'sleep 5' } }, undefined, {
      onprogress: (p) => seen.push(p), timeout: 30000,
    }).then((r) => { order.push('slow'); return r; });
    const quick = await client.callTool({ name: 'git_status', arguments: {} });
    order.push('quick');
    assert.equal(quick.isError, false);
    assert.equal((await slow).isError, false);
    assert.deepEqual(order, ['quick', 'slow']);
    assert.ok(seen.length >= 2 && seen.length <= 3, JSON.stringify(seen));
    assert.equal(seen[0].message, 'running the shell command');
    for (let i = 1; i < seen.length; ++i) assert.ok(seen[i].progress > seen[i - 1].progress);
  } finally {
    await client.close();
  }
});

const groupFile = (name) => join(scratch, name);
const groupCommand = (file) => `echo $$ > ${file}; sleep 600 & sleep 600 & wait`;
const written = (file) => () => { try { return readFileSync(file, 'utf8').endsWith('\n'); } catch { return false; } };

test('cancelling a shell call stops its whole process group', async () => {
  const ws = sandbox('cancel');
  const client = await legacyClient({}, () => {}, runnerAt(ws));
  try {
    const file = groupFile('group-cancel');
    const controller = new AbortController();
    const call = client.callTool({ name: 'shell', arguments: { command: groupCommand(file), timeout: 600 } },
                                 undefined, { signal: controller.signal });
    assert.ok(await waitFor(written(file)));
    const group = Number(readFileSync(file, 'utf8'));
    assert.ok(groupAlive(group));
    controller.abort('enough');
    await assert.rejects(call);
    assert.ok(await waitFor(() => !groupAlive(group)), 'the group outlived the cancellation');
    assert.equal((await client.callTool({ name: 'ping', arguments: {} })).structuredContent.stdout, 'pong');
  } finally {
    await client.close();
  }
});

test('on the wire: malformed messages, a cancelled call unanswered, children reading nothing, the end of input', async () => {
  const ws = sandbox('wire');
  const raw = new RawServer(runnerAt(ws));
  try {
    await raw.initialize();
    for (const [line, id, code] of [
      ['{"jsonrpc":"2.0","id":1,"method":', null, -32700],
      ['[{"jsonrpc":"2.0","id":2,"method":"ping"}]', null, -32600],
      ['{"jsonrpc":"2.0","id":4,"method":"no/such/method"}', 4, -32601],
    ]) {
      raw.send(line);
      const { message } = await raw.next();
      assert.equal(message.id, id, line);
      assert.equal(message.error.code, code, line);
    }
    // No id: a notification, never answered.
    raw.send({ jsonrpc: '2.0', method: 'tools/call', params: { name: 'ping', arguments: {} } });
    // The shell's cat reads /dev/null, not the ping that follows it.
    raw.send({ jsonrpc: '2.0', id: 5, method: 'tools/call', params: { name: 'shell', arguments: { command: 'cat' } } });
    const cat = await raw.answer(5);
    assert.equal(cat.result.structuredContent.stdout, '');
    raw.send({ jsonrpc: '2.0', id: 6, method: 'ping' });
    assert.deepEqual((await raw.answer(6)).result, {});

    const cancelled = groupFile('group-wire');
    raw.send({ jsonrpc: '2.0', id: 7, method: 'tools/call',
               params: { name: 'shell', arguments: { command: groupCommand(cancelled), timeout: 600 } } });
    assert.ok(await waitFor(written(cancelled)));
    raw.send({ jsonrpc: '2.0', method: 'notifications/cancelled', params: { requestId: 7 } });
    assert.ok(await waitFor(() => !groupAlive(Number(readFileSync(cancelled, 'utf8')))));

    // The end of input ends the server and the shell it was running.
    const running = groupFile('group-eof');
    raw.send({ jsonrpc: '2.0', id: 8, method: 'tools/call',
               params: { name: 'shell', arguments: { command: groupCommand(running), timeout: 600 } } });
    assert.ok(await waitFor(written(running)));
    raw.closeInput();
    assert.equal((await raw.exit).code, 0);
    assert.ok(await waitFor(() => !groupAlive(Number(readFileSync(running, 'utf8')))));
    assert.equal(raw.lines.length, 0, `unexpected lines: ${raw.lines}`);
  } finally {
    raw.kill();
  }
});

test('a --workspace that is no folder stops the server at once with one line', () => {
  const run = spawnSync(runner, ['--mcp', '--workspace', join(scratch, 'missing')], { input: '', encoding: 'utf8' });
  assert.equal(run.status, 2);
  assert.equal(run.stdout, '');
  assert.match(run.stderr, /^vorn-agent-runner: --workspace '.*missing' is not a folder\n$/);
});
