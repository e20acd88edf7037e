// The tool list through the Inspector CLI's schema portability lint
// (`--strict` prints every finding and exits 6 on an error), in both kinds of
// revision: no finding at all is allowed, warnings included.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { lintTools } from './support.mjs';

for (const era of ['legacy', 'modern']) {
  test(`the tool schemas pass the strict lint (${era})`, async () => {
    const { code, stdout, stderr } = await lintTools(era);
    assert.equal(code, 0, stderr);
    assert.doesNotMatch(stderr, /Warning:|Error:|portability/, stderr);
    const { tools } = JSON.parse(stdout).result;
    assert.equal(tools.length, 7);
  });
}
