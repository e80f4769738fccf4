// parse-powershell.cjs <file.ps1>: fails when tree-sitter's PowerShell grammar
// finds an error or a missing node in the file, and also when it does not
// find the stray brace and the unclosed parenthesis planted in copies of it.
'use strict';
const fs = require('fs');
const path = require('path');

const modules = path.join(__dirname, 'node_modules');
if (!fs.existsSync(path.join(modules, 'web-tree-sitter'))) {
    console.error(`no parser in ${modules}: run tools/install-deps`);
    process.exit(1);
}
const { Parser, Language } = require('web-tree-sitter');

// Lines (1-based) of every error and missing node.
function problems(parser, text) {
    const found = [];
    const walk = (node) => {
        if (node.isError || node.isMissing)
            found.push(node.startPosition.row + 1);
        if (node.hasError)
            node.children.forEach(walk);
    };
    walk(parser.parse(text).rootNode);
    return found;
}

(async () => {
    await Parser.init();
    const parser = new Parser();
    parser.setLanguage(await Language.load(require.resolve('tree-sitter-powershell/tree-sitter-powershell.wasm')));
    const text = fs.readFileSync(process.argv[2], 'utf8');
    let failed = 0;
    const real = problems(parser, text);
    if (real.length) {
        console.error(`${process.argv[2]}: syntax errors at lines ${real.join(', ')}`);
        failed++;
    }
    // A brace dropped from the first function that opens one, and a
    // parenthesis left open in the first "if (", must both show.
    const lines = text.split('\n');
    const plant = (pattern, edit) => {
        const at = lines.findIndex((l) => pattern.test(l));
        const copy = lines.slice();
        copy[at] = edit(copy[at]);
        return problems(parser, copy.join('\n')).length ? 0 : (console.error(`planted slip on line ${at + 1} not found`), 1);
    };
    failed += plant(/^function .*\{\s*$/, (l) => l.replace(/\{\s*$/, ''));
    failed += plant(/\bif \(.*\) \{\s*$/, (l) => l.replace(/\) \{\s*$/, ' {'));
    console.log(failed ? 'failed' : 'parsed cleanly; planted slips found');
    process.exit(failed ? 1 : 0);
})();
