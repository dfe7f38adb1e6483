// Draws many Mermaid diagrams in one browser, for chartwyn. scripts/install-mermaid installs it
// beside the renderer's node_modules, and the `mmdc` command it installs runs it as
//   mmdc --vaskit-batch <job file>
// The job file is JSON: {"parallel": n, "timeout_ms": t, "diagrams": [{"input": path,
// "output": path}, ...]}. It prints one line per diagram on standard output as soon as that
// diagram is done:
//   <index> ok
//   <index> failed <one-line reason>
// A diagram that takes longer than t milliseconds is reported failed. The caller draws anything
// reported failed (or not reported at all) on its own with mmdc, which gives its own message.
//
// Each diagram is drawn as `mmdc -i <input> -o <output>` draws it: the renderer's page with the
// same viewport, background, style sheets, fonts, Mermaid modules and layouts, the same Mermaid
// settings (theme "default") and the same SVG id, serialised the same way. The difference is
// that a page, once set up, draws one diagram after another (n pages at a time) instead of
// being set up again for each; setting it up is most of the work. Mermaid resets its settings
// for every diagram it draws, but its counters for generated ids (a sequence diagram's "actor3")
// go on counting within a page. A page in which a diagram failed or took too long is closed and
// the next diagram gets a fresh one.
import fs from "node:fs";
import path from "node:path";
import url from "node:url";
import puppeteer from "puppeteer";
import { resolve } from "import-meta-resolve";

const [puppeteerConfigFile, jobFile] = process.argv.slice(2);
const job = JSON.parse(fs.readFileSync(jobFile, "utf-8"));
const diagrams = job.diagrams;
const parallel = Math.max(1, Math.min(job.parallel | 0 || 1, diagrams.length || 1));
const timeoutMs = job.timeout_ms > 0 ? job.timeout_ms : 120000;
// Pages are renewed now and then, so that whatever Mermaid keeps per page stays small.
const diagramsPerPage = 50;

// What mmdc uses when given only -i, -o and -p.
const puppeteerConfig = Object.assign(
  { headless: "shell" },
  JSON.parse(fs.readFileSync(puppeteerConfigFile, "utf-8")),
);
const mermaidConfig = { theme: "default" };
const backgroundColor = "white";
const viewport = { width: 800, height: 600, deviceScaleFactor: 1 };

// The renderer's own files, found the way its command finds them.
const cliUrl = resolve("@mermaid-js/mermaid-cli", import.meta.url);
const cliDir = path.dirname(url.fileURLToPath(cliUrl));
const { Interceptor } = await import(
  url.pathToFileURL(path.join(cliDir, "puppeteerIntercept.js")).href
);
const esm = (pkg, file) =>
  path.resolve(path.dirname(url.fileURLToPath(resolve(pkg, cliUrl))), file);
const mermaidESMPath = esm("mermaid", "mermaid.esm.mjs");
const elkESMPath = esm("@mermaid-js/layout-elk", "mermaid-layout-elk.esm.mjs");
const zenumlESMPath = esm("@mermaid-js/mermaid-zenuml", "mermaid-zenuml.esm.mjs");
let tidyTreeESMPath;
try {
  tidyTreeESMPath = esm("@mermaid-js/layout-tidy-tree", "mermaid-layout-tidy-tree.esm.mjs");
} catch {
  // optional, as for mmdc
}
const cssImports = [
  "@fortawesome/fontawesome-free/css/brands.css",
  "@fortawesome/fontawesome-free/css/regular.css",
  "@fortawesome/fontawesome-free/css/solid.css",
  "@fortawesome/fontawesome-free/css/fontawesome.css",
  "katex/dist/katex.css",
];
const pageHtml = url.pathToFileURL(path.join(cliDir, "..", "dist", "index.html")).href;

const report = (line) => process.stdout.write(line + "\n");
const oneLine = (e) =>
  String(e instanceof Error ? e.message : e)
    .split("\n")[0]
    .slice(0, 300);

function withTimeout(promise, what) {
  let timer;
  return Promise.race([
    promise,
    new Promise((_, reject) => {
      timer = setTimeout(
        () => reject(new Error(`${what} timed out after ${timeoutMs} ms`)),
        timeoutMs,
      );
    }),
  ]).finally(() => clearTimeout(timer));
}

// The renderer's page, with Mermaid loaded and set up, ready to draw.
async function openPage(browser) {
  const page = await browser.newPage();
  try {
    await page.setViewport(viewport);
    await page.goto(pageHtml);
    await page.$eval(
      "body",
      (body, backgroundColor) => {
        body.style.background = backgroundColor;
      },
      backgroundColor,
    );
    const interceptor = new Interceptor();
    const toUrl = (p) => interceptor.fileUrlToInterceptUrl(url.pathToFileURL(p));
    const mermaidUrl = await toUrl(mermaidESMPath);
    const elkUrl = await toUrl(elkESMPath);
    const zenumlUrl = await toUrl(zenumlESMPath);
    const tidyTreeESMUrl = tidyTreeESMPath ? await toUrl(tidyTreeESMPath) : undefined;
    page.on("request", interceptor.interceptRequestHandler);
    await page.setRequestInterception(true);
    await Promise.all(
      cssImports.map(async (css) => {
        const cssUrl = await interceptor.fileUrlToInterceptUrl(new URL(resolve(css, cliUrl)), {
          allowParentDirectoryLevel: 2,
        });
        await page.addStyleTag({ url: cssUrl });
      }),
    );
    await page.$eval(
      "#container",
      async (container, { mermaidUrl, elkUrl, zenumlUrl, tidyTreeESMUrl }) => {
        const { default: mermaid } = await import(mermaidUrl);
        const { default: elkLayouts } = await import(elkUrl);
        const { default: zenuml } = await import(zenumlUrl);
        const { default: tidyTree } = tidyTreeESMUrl
          ? await import(tidyTreeESMUrl)
          : { default: undefined };
        await Promise.all(Array.from(document.fonts, (font) => font.load()));
        await mermaid.registerExternalDiagrams([zenuml]);
        mermaid.registerLayoutLoaders([...elkLayouts, ...(tidyTree ?? [])]);
        window.vaskitMermaid = mermaid;
      },
      { mermaidUrl, elkUrl, zenumlUrl, tidyTreeESMUrl },
    );
    return page;
  } catch (e) {
    page.close().catch(() => {});
    throw e;
  }
}

async function draw(page, definition) {
  return page.$eval(
    "#container",
    async (container, { definition, mermaidConfig, backgroundColor }) => {
      const mermaid = window.vaskitMermaid;
      container.innerHTML = "";
      mermaid.initialize({ startOnLoad: false, ...mermaidConfig });
      // throws when the diagram is not valid
      const { svg: svgText } = await mermaid.render("my-svg", definition, container);
      container.innerHTML = svgText;
      const svg = document.querySelector("svg");
      if (svg?.style) {
        svg.style.backgroundColor = backgroundColor;
      }
      // SVG may hold HTML <foreignObject> content that is not valid XML (<br>).
      return new XMLSerializer().serializeToString(svg);
    },
    { definition, mermaidConfig, backgroundColor },
  );
}

let next = 0;
async function worker(browser) {
  let page = null;
  let drawn = 0;
  const drop = () => {
    // Not waited for: a page stuck in a diagram may never close; the browser's end takes it.
    page?.close().catch(() => {});
    page = null;
  };
  while (next < diagrams.length) {
    const index = next++;
    const { input, output } = diagrams[index];
    try {
      const definition = await fs.promises.readFile(input, "utf-8");
      if (!page) {
        page = await withTimeout(openPage(browser), "setting up the page");
        drawn = 0;
      }
      const svg = await withTimeout(draw(page, definition), "drawing");
      await fs.promises.writeFile(output, svg, "utf-8");
      report(`${index} ok`);
      if (++drawn >= diagramsPerPage) drop();
    } catch (e) {
      report(`${index} failed ${oneLine(e)}`);
      drop();
    }
  }
  drop();
}

let browser;
try {
  browser = await puppeteer.launch(puppeteerConfig);
  await Promise.all(Array.from({ length: parallel }, () => worker(browser)));
} catch (e) {
  process.stderr.write(`mermaid-batch: ${oneLine(e)}\n`);
  process.exitCode = 1;
} finally {
  // A page stuck in a diagram must not keep the browser open.
  await Promise.race([browser?.close(), new Promise((done) => setTimeout(done, 5000))]);
  process.exit();
}
