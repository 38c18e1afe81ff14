#!/usr/bin/env bash
# Installs the real Claude Code command-line tool from the npm registry into a folder of the
# build (default: build/claude-cli), for the setup-model test that runs it. The test is skipped
# while the folder is missing.
set -euo pipefail
dir="${1:-$(cd "$(dirname "$0")/.." && pwd)/build/claude-cli}"
mkdir -p "$dir"
npm install --prefix "$dir" --no-audit --no-fund @anthropic-ai/claude-code >/dev/null
echo "$dir/node_modules/.bin/claude"
