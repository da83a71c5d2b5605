// Runs the Khronos glTF validator on each file named on the command line and
// fails on any error or warning, printing every message it reports.
import { readFileSync } from 'node:fs';
import validator from 'gltf-validator';

let failed = false;
for (const path of process.argv.slice(2)) {
  const report = await validator.validateBytes(new Uint8Array(readFileSync(path)), { maxIssues: 100 });
  const { numErrors, numWarnings, numInfos, numHints, messages } = report.issues;
  console.log(`${path}: ${numErrors} errors, ${numWarnings} warnings, ${numInfos} infos, ${numHints} hints; ` +
              `${report.info.totalVertexCount} vertices, morph targets: ${report.info.hasMorphTargets}`);
  for (const m of messages) console.log(`  ${m.severity} ${m.code} ${m.pointer || ''}: ${m.message}`);
  failed = failed || numErrors > 0 || numWarnings > 0 || !report.info.hasMorphTargets;
}
console.log(failed ? '0 passed, 1 failed' : '1 passed, 0 failed');
process.exit(failed ? 1 : 0);
