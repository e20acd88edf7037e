// The handshake in every revision served, through the official clients, and
// the stateless revision's discovery and version errors.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { InitializeResultSchema, LATEST_PROTOCOL_VERSION } from '@modelcontextprotocol/sdk/types.js';

import { legacyClient, modernClient, RawServer } from './support.mjs';

test('the 1.x SDK connects with its newest revision and sees the tools', async () => {
  const client = await legacyClient();
  try {
    assert.equal(LATEST_PROTOCOL_VERSION, '2025-11-25');
    assert.equal(client.getServerVersion().name, 'vorn-mcp-test-server');
    assert.ok(client.getServerCapabilities().tools);
    assert.equal(client.getInstructions(), 'Made-up tools for tests.');
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name), ['echo', 'slow', 'inherit', 'fail', 'explode', 'image', 'roots']);
    await client.ping();
  } finally {
    await client.close();
  }
});

test('each handshake revision is echoed; others get the newest', async () => {
  const cases = [
    ['2024-11-05', '2024-11-05'], ['2025-03-26', '2025-03-26'], ['2025-06-18', '2025-06-18'],
    ['2025-11-25', '2025-11-25'], ['2026-07-28', '2025-11-25'], ['2030-01-01', '2025-11-25'],
  ];
  for (const [asked, answered] of cases) {
    const raw = new RawServer();
    try {
      const { result } = await raw.initialize(asked);
      InitializeResultSchema.parse(result);  // the SDK's own idea of a valid answer
      assert.equal(result.protocolVersion, answered, asked);
      raw.send({ jsonrpc: '2.0', id: 1, method: 'tools/list' });
      const listed = await raw.answer(1);
      assert.equal(listed.result.tools.length, 7);
      // Annotations exist from 2025-03-26 on.
      assert.equal('annotations' in listed.result.tools[0], answered >= '2025-03-26', asked);
    } finally {
      raw.kill();
    }
  }
});

test('the 2.x client speaks the stateless revision', async () => {
  const client = await modernClient();
  try {
    assert.equal(client.getProtocolEra(), 'modern');
    const { tools } = await client.listTools();
    assert.equal(tools.length, 7);
    const result = await client.callTool({ name: 'echo', arguments: { text: 'hi' } });
    assert.deepEqual(result.structuredContent, { ok: true, text: 'hi', tags: [] });
  } finally {
    await client.close();
  }
});

test('the 2.x client in auto mode finds the stateless revision by probing', async () => {
  const client = await modernClient({ versionNegotiation: { mode: 'auto' } });
  try {
    assert.equal(client.getProtocolEra(), 'modern');
    await client.listTools();
  } finally {
    await client.close();
  }
});

test('discovery and an unsupported revision, on the wire', async () => {
  const raw = new RawServer();
  const meta = (v) => ({
    'io.modelcontextprotocol/protocolVersion': v,
    'io.modelcontextprotocol/clientCapabilities': {},
  });
  try {
    raw.send({ jsonrpc: '2.0', id: 'd', method: 'server/discover', params: { _meta: meta('2026-07-28') } });
    const { result } = await raw.answer('d');
    assert.equal(result.resultType, 'complete');
    assert.ok(result.supportedVersions.includes('2026-07-28'));
    assert.ok(result.supportedVersions.includes('2024-11-05'));
    assert.equal(result._meta['io.modelcontextprotocol/serverInfo'].name, 'vorn-mcp-test-server');

    raw.send({ jsonrpc: '2.0', id: 'u', method: 'tools/list', params: { _meta: meta('2031-01-01') } });
    const { error } = await raw.answer('u');
    assert.equal(error.code, -32022);
    assert.equal(error.data.requested, '2031-01-01');
    assert.ok(error.data.supported.includes('2026-07-28'));
  } finally {
    raw.kill();
  }
});
