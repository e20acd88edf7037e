// The helper's schema documents (docs/schema/) against real answers, with an
// independent validator (Ajv, draft 2020-12, strict about the schemas
// themselves): every answer the samples produced is accepted by its own
// operation's schema; the requests the schema must take are taken and the
// others refused; and answers broken the way a regression would break them
// are refused.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';

import Ajv2020 from 'ajv/dist/2020.js';

const schemaDir = process.env.VORN_SCHEMA_DIR;
const answerDir = process.env.VORN_ANSWER_DIR;
if (!schemaDir || !answerDir) throw new Error('VORN_SCHEMA_DIR and VORN_ANSWER_DIR must be set');

const readJson = (name) => JSON.parse(readFileSync(join(schemaDir, name), 'utf8'));
const requestSchema = readJson('computer-use.request.schema.json');
const answerSchema = readJson('computer-use.answer.schema.json');

const ajv = new Ajv2020({ strict: true, allErrors: true });
ajv.addSchema(requestSchema);
ajv.addSchema(answerSchema);
const operations = Object.keys(requestSchema.$defs);
const answerOf = Object.fromEntries(
  operations.map((op) => [op, ajv.getSchema(`${answerSchema.$id}#/$defs/${op}`)]));
const anyAnswer = ajv.getSchema(answerSchema.$id);
const anyRequest = ajv.getSchema(requestSchema.$id);

const samples = readFileSync(join(answerDir, 'cu-samples.jsonl'), 'utf8')
  .split('\n').filter(Boolean).map((line) => JSON.parse(line));

test('every operation has samples, successes and failures alike', () => {
  for (const op of operations) {
    const answers = samples.filter((s) => s.op === op).map((s) => s.answer);
    assert.ok(answers.some((a) => a.ok), `${op}: no success`);
    if (op !== 'ping' && op !== 'list_windows') {
      assert.ok(answers.some((a) => !a.ok), `${op}: no failure`);
    }
  }
});

test('every answer is accepted by its operation\'s schema and the root', () => {
  const faults = [];
  for (const { op, answer } of samples) {
    const validate = answerOf[op] ?? anyAnswer;
    if (!validate(answer)) faults.push({ op, answer, errors: validate.errors });
    if (!anyAnswer(answer)) faults.push({ op, answer, errors: anyAnswer.errors, root: true });
  }
  assert.deepEqual(faults, []);
});

test('requests are taken or refused as the samples expect', () => {
  const faults = [];
  for (const { request, request_valid: valid } of samples) {
    if (request === null) continue;
    if (anyRequest(request) !== valid) faults.push({ request, valid, errors: anyRequest.errors });
  }
  assert.deepEqual(faults, []);
});

const mutations = {
  'ok missing': (a) => { delete a.ok; },
  'ok as text': (a) => { a.ok = String(a.ok); },
  'an unknown key': (a) => { a.extra = 1; },
  'a message that is a number': (a) => { a.message = 1; },
  'an outcome of another kind': (a) => { if ('outcome' in a) a.outcome = 'maybe'; else a.ok = 1; },
  'a node without its ref': (a) => {
    if (a.elements?.length) delete a.elements[0].ref; else a.error = 7;
  },
  'a window without its pid': (a) => {
    if (a.windows?.length) delete a.windows[0].pid; else a.ok = null;
  },
};

test('broken answers are refused', () => {
  const missed = [];
  for (const { op, answer } of samples.filter((s) => answerOf[s.op])) {
    for (const [what, mutate] of Object.entries(mutations)) {
      const broken = structuredClone(answer);
      mutate(broken);
      if (answerOf[op](broken)) missed.push(`${op}: ${what}: ${JSON.stringify(broken)}`);
    }
  }
  assert.deepEqual(missed, []);
});
