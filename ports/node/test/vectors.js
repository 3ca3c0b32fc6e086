// The conformance vectors: every JSON file named by CORVANE_VECTORS (':'-separated files or
// folders), else every JSON file of the tree's conformance/ folder.
'use strict';
const fs = require('fs');
const path = require('path');

const TREE = path.resolve(__dirname, '..', '..', '..');

function jsonFiles(root) {
  const found = [];
  for (const entry of fs.readdirSync(root, { withFileTypes: true }).sort((a, b) => (a.name < b.name ? -1 : 1))) {
    const full = path.join(root, entry.name);
    if (entry.isDirectory()) found.push(...jsonFiles(full));
    else if (entry.name.endsWith('.json')) found.push(full);
  }
  return found;
}

function vectorFiles() {
  const named = process.env.CORVANE_VECTORS;
  const roots = named ? named.split(':').filter(Boolean) : [path.join(TREE, 'conformance')];
  const files = [];
  for (const root of roots) {
    if (fs.existsSync(root) && fs.statSync(root).isDirectory()) files.push(...jsonFiles(root));
    else if (fs.existsSync(root)) files.push(root);
    else if (named) throw new Error(`CORVANE_VECTORS names ${root}, which does not exist`);
  }
  if (files.length === 0) throw new Error("no conformance vectors: set CORVANE_VECTORS or add the tree's conformance/ folder");
  return files;
}

const documents = vectorFiles().map((file) => ({ file, document: JSON.parse(fs.readFileSync(file, 'utf8')) }));

// Every entry of `field` over all vector files, with a name for the test.
function cases(field) {
  const found = [];
  for (const { file, document } of documents) {
    const list = document && document[field];
    if (Array.isArray(list)) list.forEach((c, i) => found.push({ name: `${path.basename(file)}[${i}]`, c, file }));
  }
  return found;
}

module.exports = { cases, documents, TREE };
