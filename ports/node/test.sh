#!/usr/bin/env bash
# Builds the Node package (npm ci, tsc) and runs its tests with Node's own runner against
# every conformance vector: those named by CORVANE_VECTORS (':'-separated), else the tree's
# conformance/ folder. npm ci needs the npm registry, or its cache, once.
set -euo pipefail
cd "$(dirname "$0")"
node -e 'if (+process.versions.node.split(".")[0] < 18) { console.error("Node 18 or later is needed"); process.exit(1) }'
if [ ! -d node_modules ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
npm run --silent build
node --test test/
