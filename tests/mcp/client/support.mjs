// What the client tests share: the server under test, the two official
// TypeScript clients (the 1.x SDK for handshake revisions, the 2.x client for
// the stateless revision), and a raw line client for bytes no SDK would send.
import { execFile, spawn } from 'node:child_process';
import { once } from 'node:events';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';
import { promisify } from 'node:util';

import { Client as LegacyClient } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport as LegacyTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { Client as ModernClient } from '@modelcontextprotocol/client';
import { StdioClientTransport as ModernTransport } from '@modelcontextprotocol/client/stdio';

export const server = process.env.VORN_MCP_TEST_SERVER;

/** The program a client starts: `target` ({ command, args, cwd, env }), else
 *  the made-up test server. Without `env` the SDK's transports give the
 *  server the minimal environment MCP clients give. */
function program(target) {
  const chosen = target ?? { command: server, args: [] };
  if (!chosen.command) throw new Error('VORN_MCP_TEST_SERVER names no server');
  return { args: [], ...chosen };
}

const info = { name: 'vorn-tests', version: '1.0.0' };

/** A connected 1.x SDK client (handshake revision 2025-11-25); `setup`
 *  registers handlers before it connects. */
export async function legacyClient(options = {}, setup = () => {}, target = undefined) {
  const client = new LegacyClient(info, options);
  setup(client);
  await client.connect(new LegacyTransport({ ...program(target), stderr: 'pipe' }));
  return client;
}

/** A connected 2.x client pinned to the stateless revision. */
export async function modernClient(options = {}, target = undefined) {
  const client = new ModernClient(info, {
    versionNegotiation: { mode: { pin: '2026-07-28' } },
    ...options,
  });
  await client.connect(new ModernTransport({ ...program(target), stderr: 'pipe' }));
  return client;
}

const require = createRequire(import.meta.url);
const inspector = join(dirname(require.resolve('@modelcontextprotocol/inspector/package.json')),
                       'clients/launcher/build/index.js');

/** The Inspector CLI's strict schema lint of the tool list in `era`
 *  ('legacy' or 'modern'): its exit code and output. */
export async function lintTools(era, target = undefined) {
  const { command, args } = program(target);
  try {
    const { stdout, stderr } = await promisify(execFile)(
        process.execPath,
        [inspector, '--cli', '--protocol-era', era, '--method', 'tools/list', '--strict',
         '--format', 'json', command, ...args],
        { timeout: 60000, env: { ...process.env, HOME: process.env.VORN_MCP_CLIENTS } });
    return { code: 0, stdout, stderr };
  } catch (error) {
    return { code: error.code, stdout: error.stdout, stderr: error.stderr };
  }
}

/** The server with its standard streams in the test's hands, line by line. */
export class RawServer {
  constructor(target = undefined) {
    const { command, args, cwd, env } = program(target);
    this.child = spawn(command, args, { cwd, env, stdio: ['pipe', 'pipe', 'pipe'] });
    this.stderr = '';
    this.child.stderr.on('data', (chunk) => (this.stderr += chunk));
    this.lines = [];
    this.waiters = [];
    this.exit = once(this.child, 'exit').then(([code, signal]) => ({ code, signal }));
    createInterface({ input: this.child.stdout }).on('line', (line) => {
      const waiter = this.waiters.shift();
      if (waiter) waiter(line);
      else this.lines.push(line);
    });
  }

  /** Writes `message` (an object, or raw text) and a line feed. */
  send(message) {
    const text = typeof message === 'string' ? message : JSON.stringify(message);
    this.child.stdin.write(text + '\n');
  }

  /** The next output line, parsed; fails after `ms`. */
  async next(ms = 10000) {
    const line = this.lines.length ? this.lines.shift() : await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`no line within ${ms} ms`)), ms);
      this.waiters.push((l) => {
        clearTimeout(timer);
        resolve(l);
      });
    });
    return { line, message: JSON.parse(line) };
  }

  /** The answer to a request sent as `id`, after nothing else arrived first. */
  async answer(id, ms) {
    const { message } = await this.next(ms);
    if (message.id !== id) throw new Error(`expected id ${id}, got ${JSON.stringify(message)}`);
    return message;
  }

  async initialize(protocolVersion = '2025-11-25', capabilities = {}) {
    this.send({ jsonrpc: '2.0', id: 'init', method: 'initialize',
                params: { protocolVersion, capabilities, clientInfo: info } });
    const answer = await this.answer('init');
    this.send({ jsonrpc: '2.0', method: 'notifications/initialized' });
    return answer;
  }

  closeInput() { this.child.stdin.end(); }
  kill() { this.child.kill('SIGKILL'); }
}

/** Whether a process group still has a member. */
export function groupAlive(pgid) {
  try {
    process.kill(-pgid, 0);
    return true;
  } catch (error) {
    if (error.code === 'ESRCH') return false;
    throw error;
  }
}

export async function waitFor(condition, ms = 10000) {
  const end = Date.now() + ms;
  while (!condition()) {
    if (Date.now() > end) return false;
    await new Promise((r) => setTimeout(r, 20));
  }
  return true;
}

/** The JSON a call's text block carries. */
export function textJson(result) {
  return JSON.parse(result.content.find((c) => c.type === 'text').text);
}
