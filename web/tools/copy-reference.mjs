// Puts the protocol reference (docs/protocol.md of the repository) into the
// package as protocol.md before it is packed: integrators get the reference
// of the very version they install.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const web = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const text = fs.readFileSync(path.join(web, '..', 'docs', 'protocol.md'), 'utf8');
// Links into the repository's source become links to the files of the package.
fs.writeFileSync(path.join(web, 'protocol.md'), text.replaceAll('](../web/', '](./'));
