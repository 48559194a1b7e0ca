// The TypeScript declarations against the code: a page of real calls
// type-checks under `tsc --strict`, and the declared names are the exported
// ones, with one declared method per command of the table.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import * as lib from '../pellamo-client.js';

const web = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const declarations = fs.readFileSync(path.join(web, 'pellamo-client.d.ts'), 'utf8');

test('a page of real calls type-checks with tsc --strict', () => {
  const tsc = path.join(web, 'node_modules', 'typescript', 'bin', 'tsc');
  assert.ok(fs.existsSync(tsc), 'typescript is not installed: bash tools/setup.sh');
  try {
    execFileSync(process.execPath, [tsc, '-p', path.join(web, 'tsconfig.json')], { encoding: 'utf8' });
  } catch (e) {
    assert.fail(`tsc found errors:\n${e.stdout}${e.stderr}`);
  }
});

test('every export is declared and every declaration is exported', () => {
  const declared = new Set([...declarations.matchAll(/^export declare (?:const|function|class) (\w+)/gm)].map((m) => m[1]));
  assert.deepEqual([...declared].filter((n) => !(n in lib)), [], 'declared but not exported');
  assert.deepEqual(Object.keys(lib).filter((n) => !declared.has(n)), [], 'exported but not declared');
});

test('each command has its method, declared with one object argument', () => {
  const body = declarations.slice(declarations.indexOf('export declare class PellamoClient'));
  for (const cmd of lib.COMMANDS) {
    assert.equal(typeof lib.PellamoClient.prototype[cmd.method], 'function', cmd.method);
    const m = new RegExp(`^  ${cmd.method}\\(\\s*(args\\??): (\\{\\s*([^}]*?)\\s*\\} (?:& CardFieldValue )?& CallOptions|CallOptions)\\)`, 'm').exec(body);
    assert.ok(m, `${cmd.method} is declared with (args: {...} & CallOptions)`);
    // The declared argument names are the request fields (reserved may be left out).
    const names = m[3] ? [...m[3].matchAll(/(\w+)\??:/g)].map((x) => x[1]) : [];
    const fields = cmd.request.map(([n]) => n);
    if (cmd.method === 'setCardField') names.push('field', 'value');  // declared through CardFieldValue
    assert.deepEqual([...names].sort(), [...fields].sort(), cmd.method);
    assert.equal(m[1] === 'args?', fields.length === 0, `${cmd.method}: args optional exactly when there are none`);
  }
});

test('the package ships the library, its declarations and the protocol reference, and names its repository', () => {
  const pkg = JSON.parse(fs.readFileSync(path.join(web, 'package.json'), 'utf8'));
  assert.match(pkg.repository?.url ?? '', /^git\+https:\/\/.+\.git$/);
  assert.equal(pkg.repository.directory, 'web');
  const npm = process.platform === 'win32' ? 'npm.cmd' : 'npm';
  const out = execFileSync(npm, ['pack', '--dry-run', '--json', '--ignore-scripts=false'], { cwd: web, encoding: 'utf8' });
  const files = JSON.parse(out.slice(out.indexOf('[')))[0].files.map((f) => f.path).sort();
  for (const f of ['lib/codec.js', 'lib/commands.js', 'lib/errors.js', 'pellamo-client.d.ts', 'pellamo-client.js',
    'protocol.md']) {
    assert.ok(files.includes(f), `${f} is packed: ${files.join(' ')}`);
  }
  const reference = fs.readFileSync(path.join(web, 'protocol.md'), 'utf8');
  assert.equal(reference, fs.readFileSync(path.join(web, '..', 'docs', 'protocol.md'), 'utf8').replaceAll('](../web/', '](./'));
  assert.ok(!files.some((f) => f.startsWith('test/') || f.startsWith('node_modules/')), files.join(' '));
});
