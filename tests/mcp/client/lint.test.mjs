// The tool list through the Inspector CLI's schema portability lint
// (`--strict` prints every finding and exits 6 on an error), in both kinds of
// revision: no finding at all is allowed, warnings included.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { promisify } from 'node:util';

import { server } from './support.mjs';

const require = createRequire(import.meta.url);
const inspector = join(dirname(require.resolve('@modelcontextprotocol/inspector/package.json')),
                       'clients/launcher/build/index.js');

async function lint(era) {
  try {
    const { stdout, stderr } = await promisify(execFile)(
        process.execPath,
        [inspector, '--cli', '--protocol-era', era, '--method', 'tools/list', '--strict',
         '--format', 'json', server],
        { timeout: 60000, env: { ...process.env, HOME: process.env.VORN_MCP_CLIENTS } });
    return { code: 0, stdout, stderr };
  } catch (error) {
    return { code: error.code, stdout: error.stdout, stderr: error.stderr };
  }
}

for (const era of ['legacy', 'modern']) {
  test(`the tool schemas pass the strict lint (${era})`, async () => {
    const { code, stdout, stderr } = await lint(era);
    assert.equal(code, 0, stderr);
    assert.doesNotMatch(stderr, /Warning:|Error:|portability/, stderr);
    const { tools } = JSON.parse(stdout).result;
    assert.equal(tools.length, 7);
  });
}
