// Draws many Mermaid diagrams in one browser, for chartwyn. scripts/install-mermaid installs it
// beside the renderer's node_modules, and the `mmdc` command it installs runs it as
//   mmdc --vaskit-batch <job file>
// The job file is JSON: {"parallel": n, "timeout_ms": t, "diagrams": [{"input": path,
// "output": path}, ...]}. Each diagram is drawn exactly as `mmdc -i <input> -o <output>` draws it
// (the same page, options and Mermaid set-up), at most n at a time in one browser, and written to
// its output path. One line per diagram is printed on standard output as soon as it is done:
//   <index> ok
//   <index> failed <one-line reason>
// A diagram that takes longer than t milliseconds is reported failed; the caller draws anything
// reported failed (or not reported at all) on its own with mmdc, which gives its own message.
import fs from "node:fs";
import puppeteer from "puppeteer";
import { renderMermaid } from "@mermaid-js/mermaid-cli";

const [puppeteerConfigFile, jobFile] = process.argv.slice(2);
const job = JSON.parse(fs.readFileSync(jobFile, "utf-8"));
const diagrams = job.diagrams;
const parallel = Math.max(1, Math.min(job.parallel | 0 || 1, diagrams.length || 1));
const timeoutMs = job.timeout_ms > 0 ? job.timeout_ms : 120000;

// What mmdc uses when given only -i, -o and -p.
const puppeteerConfig = Object.assign(
  { headless: "shell" },
  JSON.parse(fs.readFileSync(puppeteerConfigFile, "utf-8")),
);
const parseMMDOptions = {
  mermaidConfig: { theme: "default" },
  backgroundColor: "white",
  myCSS: undefined,
  pdfFit: undefined,
  viewport: { width: 800, height: 600, deviceScaleFactor: 1 },
  svgId: undefined,
  iconPacks: [],
  iconPacksNamesAndUrls: [],
};

// Page console messages of many diagrams at once cannot be told apart; a diagram that fails is
// drawn again alone, where its messages are shown.
console.warn = () => {};

const report = (line) => process.stdout.write(line + "\n");
const oneLine = (e) =>
  String(e instanceof Error ? e.message : e)
    .split("\n")[0]
    .slice(0, 300);

async function drawOne(browser, index) {
  const { input, output } = diagrams[index];
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(
      () => reject(new Error(`timed out after ${timeoutMs} ms`)),
      timeoutMs,
    );
  });
  try {
    const definition = await fs.promises.readFile(input, "utf-8");
    const { data } = await Promise.race([
      renderMermaid(browser, definition, "svg", parseMMDOptions),
      timeout,
    ]);
    await fs.promises.writeFile(output, data);
    report(`${index} ok`);
  } catch (e) {
    report(`${index} failed ${oneLine(e)}`);
  } finally {
    clearTimeout(timer);
  }
}

let browser;
try {
  browser = await puppeteer.launch(puppeteerConfig);
  let next = 0;
  const worker = async () => {
    while (next < diagrams.length) await drawOne(browser, next++);
  };
  await Promise.all(Array.from({ length: parallel }, worker));
} catch (e) {
  process.stderr.write(`mermaid-batch: ${oneLine(e)}\n`);
  process.exitCode = 1;
} finally {
  // A page that never finished must not keep the browser open.
  await Promise.race([
    browser?.close(),
    new Promise((resolve) => setTimeout(resolve, 5000)),
  ]);
  process.exit();
}
