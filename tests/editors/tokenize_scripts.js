// Tokenizes every velq script under the given folders with the TextMate grammar and
// checks that the grammar marks as invalid what the scanner refuses: in a script whose
// expected compile error is lexical ("Invalid character", "Newline in string constant")
// the first line with an invalid scope must be that error's line (the scanner stops
// there, so what follows is not compared); every other script must have none.
//   node tokenize_scripts.js GRAMMAR FOLDER...
'use strict';
const fs = require('fs');
const path = require('path');
const vsctm = require('vscode-textmate');
const oniguruma = require('vscode-oniguruma');

const LEXICAL_ERROR =
  /\/\/ expect compile error: Error in line (\d+): (?:Invalid character|Newline in string constant)/;

function scriptsUnder(folder) {
  const found = [];
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    const full = path.join(folder, entry.name);
    if (entry.isDirectory()) found.push(...scriptsUnder(full));
    else if (entry.name.endsWith('.velq')) found.push(full);
  }
  return found.sort();
}

async function loadGrammar(file) {
  const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  const registry = new vsctm.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
      createOnigString: (text) => new oniguruma.OnigString(text),
    }),
    loadGrammar: async () => vsctm.parseRawGrammar(fs.readFileSync(file, 'utf8'), file),
  });
  return registry.loadGrammar('source.velq');
}

// The 1-based numbers of the lines that hold a token with an invalid scope.
function invalidLines(grammar, text) {
  const lines = [];
  let stack = vsctm.INITIAL;
  text.split(/\r?\n/).forEach((line, index) => {
    const result = grammar.tokenizeLine(line, stack);
    stack = result.ruleStack;
    if (result.tokens.some((token) => token.scopes.some((scope) => scope.startsWith('invalid'))))
      lines.push(index + 1);
  });
  return lines;
}

async function main() {
  const [grammarFile, ...folders] = process.argv.slice(2);
  const grammar = await loadGrammar(grammarFile);
  let scripts = 0;
  let failures = 0;
  for (const folder of folders) {
    for (const file of scriptsUnder(folder)) {
      scripts++;
      const text = fs.readFileSync(file, 'utf8');
      const lexical = text.match(LEXICAL_ERROR);
      const got = invalidLines(grammar, text);
      if (lexical && got[0] !== Number(lexical[1])) {
        failures++;
        console.log(`FAIL ${file}: the first invalid scope is on line ${got[0] || 'none'}, ` +
          `the scanner's error on line ${lexical[1]}`);
      } else if (!lexical && got.length > 0) {
        failures++;
        console.log(`FAIL ${file}: invalid scopes on lines ${got.join(', ')}`);
      }
    }
  }
  console.log(`${scripts} scripts tokenized, ${failures} with unexpected invalid scopes`);
  process.exitCode = scripts > 0 && failures === 0 ? 0 : 1;
}

main().catch((error) => {
  console.log(`FAIL ${error.stack || error}`);
  process.exitCode = 1;
});
