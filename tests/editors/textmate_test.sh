#!/usr/bin/env bash
# Tests editors/textmate: the extension manifest, the grammar against the annotated
# samples in tests/editors/grammar/ (with a grammar-test tool from the npm registry), and
# the grammar over every script of tests/scripts and examples (tokenize_scripts.js).
#   textmate_test.sh SOURCE_DIR WORK_DIR VERSION
# The tools of tests/editors/package-lock.json are installed into WORK_DIR. Exits 77,
# which ctest reports as skipped, only when they cannot be installed.
set -uo pipefail
source_dir=$1 work=$2 version=$3
tests=$source_dir/tests/editors
editor=$source_dir/editors/textmate
grammar=$editor/syntaxes/velq.tmLanguage.json

skip() {
  echo "SKIPPED: $*"
  exit 77
}

command -v node >/dev/null && command -v npm >/dev/null ||
  skip "Node.js and npm are not installed (scripts/setup installs them as root)"

# Installed once per build tree, and again when the lock file changes.
mkdir -p "$work" || exit 1
if ! cmp -s "$tests/package-lock.json" "$work/installed-lock.json"; then
  cp "$tests/package.json" "$tests/package-lock.json" "$work/" || exit 1
  if ! (cd "$work" && npm ci --no-audit --no-fund --loglevel=error) >"$work/npm.log" 2>&1; then
    cat "$work/npm.log"
    skip "the grammar test tools could not be installed from the npm registry"
  fi
  cp "$tests/package-lock.json" "$work/installed-lock.json" || exit 1
fi

failures=0

# The manifest offers the grammar for .velq files, under the grammar's own scope name,
# with velq's version.
if ! node - "$editor" "$version" <<'SCRIPT'; then
const fs = require('fs');
const path = require('path');
const [folder, version] = process.argv.slice(2);
const manifest = JSON.parse(fs.readFileSync(path.join(folder, 'package.json'), 'utf8'));
const problems = [];
const language = manifest.contributes.languages.find((l) => l.id === 'velq');
const entry = manifest.contributes.grammars.find((g) => g.language === 'velq');
if (manifest.version !== version) problems.push(`version ${manifest.version}, velq is ${version}`);
if (!language || !language.extensions.includes('.velq')) problems.push('no language velq for .velq');
if (!entry) {
  problems.push('no grammar for the language velq');
} else {
  const grammar = JSON.parse(fs.readFileSync(path.join(folder, entry.path), 'utf8'));
  if (grammar.scopeName !== entry.scopeName)
    problems.push(`grammar scope ${grammar.scopeName}, manifest says ${entry.scopeName}`);
}
if (language && language.configuration)
  JSON.parse(fs.readFileSync(path.join(folder, language.configuration), 'utf8'));
for (const problem of problems) console.log(`FAIL editors/textmate/package.json: ${problem}`);
process.exitCode = problems.length ? 1 : 0;
SCRIPT
  failures=$((failures + 1))
fi

samples=("$tests"/grammar/*.velq)
[ -e "${samples[0]}" ] || { echo "FAIL no annotated samples in $tests/grammar"; exit 1; }
"$work/node_modules/.bin/vscode-tmgrammar-test" --compact --grammar "$grammar" "${samples[@]}" ||
  failures=$((failures + 1))

NODE_PATH=$work/node_modules node "$tests/tokenize_scripts.js" "$grammar" \
  "$source_dir/tests/scripts" "$source_dir/examples" || failures=$((failures + 1))

[ $failures -eq 0 ]
