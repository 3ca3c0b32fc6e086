// The Node examples of docs/migrating.md, each run by node in a fresh folder: it must
// finish, and every `console.log(...); // text` must have printed that text.
'use strict';
const assert = require('assert');
const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test } = require('node:test');

const { TREE } = require('./vectors');

const PACKAGE = path.resolve(process.env.CORVANE_NODE_PACKAGE || path.join(__dirname, '..'));
const DOC = path.join(TREE, 'docs', 'migrating.md');

function examples() {
  const text = fs.readFileSync(DOC, 'utf8');
  const section = /^## Node\n([\s\S]*?)(?=^## |(?![\s\S]))/m.exec(text);
  assert.ok(section, 'docs/migrating.md has no Node section');
  const blocks = [...section[1].matchAll(/^```javascript\n([\s\S]*?)^```/gm)].map((m) => m[1]);
  assert.ok(blocks.length > 0, 'the Node section has no examples');
  return blocks;
}

examples().forEach((code, index) => {
  test(`example ${index + 1}`, () => {
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-doc-'));
    try {
      // The examples use top-level await; they run inside an async function, with the
      // package under test in place of require('corvane').
      const program = `(async () => {\n${code.replace(/require\('corvane'\)/g, `require(${JSON.stringify(PACKAGE)})`)}\n})().catch((error) => { console.error(error); process.exit(1); });\n`;
      fs.writeFileSync(path.join(folder, 'example.js'), program);
      const printed = execFileSync(process.execPath, ['example.js'], { cwd: folder, encoding: 'utf8' });
      for (const [, expected] of code.matchAll(/console\.log\(.*\);\s*\/\/\s*(.+)$/gm)) {
        assert.ok(printed.includes(expected.trim()), `${expected} not printed; printed:\n${printed}`);
      }
    } finally {
      fs.rmSync(folder, { recursive: true, force: true });
    }
  });
});
