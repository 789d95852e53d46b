// Renders LaTeX with KaTeX as a Markdown viewer would (display mode, errors
// thrown) and reports the lines that fail. Reads one formula per line from
// standard input; writes one JSON object per failing line to standard
// output: {"line": n (from 1), "error": message}.
// Usage: node katex_check.js [path to katex.js] < formulas.txt
"use strict";
const katexPath = process.argv[2] || "/usr/share/javascript/katex/katex.js";
const katex = require(katexPath);
console.warn = () => {};  // non-strict notes (Korean in math and the like) are not failures
const lines = require("fs").readFileSync(0, "utf8").split("\n");
if (lines.length > 0 && lines[lines.length - 1] === "") lines.pop();
lines.forEach((latex, index) => {
    try {
        katex.renderToString(latex, {displayMode: true, throwOnError: true});
    } catch (error) {
        process.stdout.write(JSON.stringify({line: index + 1, error: String(error.message)}) + "\n");
    }
});
