// The runner's schema documents (docs/schema/) against real answers, with an
// independent validator (Ajv, draft 2020-12, strict about the schemas
// themselves): every answer the answer samples and the command-line tests
// produced is accepted, each by its own operation's schema; the requests
// the schema must take are taken and the others refused; and answers broken
// in the ways a regression would break them are refused.
import assert from 'node:assert/strict';
import { existsSync, readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';

import Ajv2020 from 'ajv/dist/2020.js';

const schemaDir = process.env.VORN_SCHEMA_DIR;
const answerDir = process.env.VORN_ANSWER_DIR;
if (!schemaDir || !answerDir) throw new Error('VORN_SCHEMA_DIR and VORN_ANSWER_DIR must be set');

const readJson = (name) => JSON.parse(readFileSync(join(schemaDir, name), 'utf8'));
const requestSchema = readJson('agent-runner.request.schema.json');
const answerSchema = readJson('agent-runner.answer.schema.json');

// Strict about everything but Ajv's own lint that each "required" name be
// declared beside it: the failure rule names fields the object above declares.
const ajv = new Ajv2020({ strict: true, strictRequired: false, allErrors: true });
ajv.addSchema(requestSchema);
ajv.addSchema(answerSchema);
const operations = Object.keys(requestSchema.$defs);

function validator(schema, name) {
  const validate = ajv.getSchema(`${schema.$id}#/$defs/${name}`);
  assert.ok(validate, `no $defs/${name} in ${schema.$id}`);
  return validate;
}
const answerOf = Object.fromEntries(operations.map((op) => [op, validator(answerSchema, op)]));
const anyAnswer = ajv.getSchema(answerSchema.$id);
const anyRequest = ajv.getSchema(requestSchema.$id);

// The schema an answer must pass: its operation's when the request named
// one (as the runner reads op), else the document's root.
function checkerFor(op) {
  const name = String(op ?? '').trim().toLowerCase();
  return answerOf[name] ?? anyAnswer;
}

function lines(file) {
  if (!existsSync(file)) return [];
  return readFileSync(file, 'utf8').split('\n').filter(Boolean).map((line) => JSON.parse(line));
}

const samples = lines(join(answerDir, 'samples.jsonl'));
// The command-line tests append to their log; it is read once and cleared,
// so the next run checks only what it produced.
const cliLog = join(answerDir, 'cli.jsonl');
const cliAnswers = lines(cliLog);
rmSync(cliLog, { force: true });

test('every operation has samples, successes and failures alike', () => {
  for (const op of operations) {
    const answers = samples.filter((s) => s.op === op).map((s) => s.answer);
    assert.ok(answers.some((a) => a.ok), `${op}: no success`);
    if (op !== 'ping') assert.ok(answers.some((a) => !a.ok), `${op}: no failure`);
  }
});

test('every answer the tests saw is accepted by its operation\'s schema', () => {
  assert.ok(cliAnswers.length > 0, 'the command-line tests logged no answer');
  const faults = [];
  for (const { op, answer } of [...samples, ...cliAnswers]) {
    const validate = checkerFor(op);
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

// Each mutation breaks a real answer the way a regression would; the
// operation's own schema must refuse every one.
const mutations = {
  'ok missing': (a) => { delete a.ok; },
  'ok as text': (a) => { a.ok = String(a.ok); },
  'pid as text': (a) => { a.pid = String(a.pid); },
  'another helper': (a) => { a.helper = 'vorn-computer-use'; },
  'an unknown key': (a) => { a.extra = 1; },
  'exit status not whole': (a) => { a.exit_status = 1.5; },
  'a path that is no text': (a) => { a.affected_paths = [1]; },
  'an error on a success': (a) => { if (a.ok) a.error = 'x'; else delete a.message; },
  'a field of another operation': (a) => { a.written_bytes = 1; a.stdout = 'x'; },
};

test('broken answers are refused', () => {
  const missed = [];
  for (const op of operations) {
    const real = samples.filter((s) => s.op === op).map((s) => s.answer);
    for (const answer of real) {
      for (const [what, mutate] of Object.entries(mutations)) {
        const broken = structuredClone(answer);
        mutate(broken);
        if (answerOf[op](broken)) missed.push(`${op}: ${what}: ${JSON.stringify(broken)}`);
      }
    }
  }
  assert.deepEqual(missed, []);
});
