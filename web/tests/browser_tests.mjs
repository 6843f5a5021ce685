#!/usr/bin/env node
// The console page and the client in a real browser (Debian's chromium, driven by
// playwright-core), against the service and the terminal simulator of a build's deploy folder.
//   browser_tests.mjs SOURCE_DIR DEPLOY_DIR [--screenshot FILE]
// Exits 77 (skipped) when chromium or playwright-core is missing; --screenshot saves the console
// answering a request.
import { existsSync } from "node:fs";
import { createRequire } from "node:module";
import { join, resolve } from "node:path";
import { test, before, after } from "node:test";
import assert from "node:assert/strict";

import { serveConsole } from "../tools/serve-console.mjs";
import { startStack } from "./stack.mjs";

const [sourceFolder, deploy] = process.argv.slice(2).map((path) => path && resolve(path));
const screenshotIndex = process.argv.indexOf("--screenshot");
const screenshotFile = screenshotIndex > 0 ? process.argv[screenshotIndex + 1] : null;
const chromiumPath = process.env.COUNTERMATE_CHROMIUM ?? "/usr/bin/chromium";
const skipped = 77;

function loadPlaywright() {
  try {
    return createRequire(join(sourceFolder, "web", "tests", "package.json"))("playwright-core");
  } catch {
    return null;
  }
}

if (!sourceFolder || !deploy) {
  console.error("usage: browser_tests.mjs SOURCE_DIR DEPLOY_DIR [--screenshot FILE]");
  process.exit(2);
}
if (!existsSync(chromiumPath)) {
  console.log(`skipped: no chromium at ${chromiumPath} (scripts/setup installs Debian's chromium)`);
  process.exit(skipped);
}
const playwright = loadPlaywright();
if (!playwright) {
  console.log("skipped: playwright-core is not installed in web/tests (scripts/setup runs npm ci there)");
  process.exit(skipped);
}

// The terminal answers GetDevID after 300 ms, so that calls sent together overlap for certain,
// and never answers ReadQR until it is cancelled, so that a call is still running when the
// connection drops.
const scenario = { GetDeviceCode: { delayMs: 300 }, ReadQR: { fault: "never" } };

let browser;
let consoleServer;
let otherServer;
let stack;
let consoleOrigin;
let otherOrigin;

before(async () => {
  consoleServer = await serveConsole(0);
  otherServer = await serveConsole(0);
  consoleOrigin = `http://127.0.0.1:${consoleServer.address().port}`;
  otherOrigin = `http://127.0.0.1:${otherServer.address().port}`;
  stack = await startStack({ deploy, allowedOrigins: [consoleOrigin], scenario });
  browser = await playwright.chromium.launch({ executablePath: chromiumPath, args: ["--no-sandbox"] });
});

after(async () => {
  await browser?.close();
  await stack?.stop();
  consoleServer?.close();
  otherServer?.close();
});

// A page of `origin` showing the console for the stack, connected (or given up) when it resolves.
async function openConsole(origin) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  await page.goto(`${origin}/?url=${encodeURIComponent(stack.url)}`);
  await page.waitForFunction(() => !["not connected", "connecting"].includes(document.getElementById("state").textContent));
  return page;
}

// Runs `body` in the page with the client module as `CounterMate`; resolves to its result.
function inPage(page, body, value) {
  return page.evaluate(async ([source, argument]) => {
    const { default: CounterMate } = await import("./countermate.js");
    return new Function("CounterMate", "argument", `return (async () => { ${source} })();`)(CounterMate, argument);
  }, [body, value]);
}

test("the console connects and shows the reply of one request of each group", async () => {
  const page = await openConsole(consoleOrigin);
  assert.equal(await page.textContent("#state"), "connected");
  const requests = {
    service: "GetServiceStatus",
    terminal: "GetDevID",
    signing: "GetSignName_Base64",
    identity: "ReadIDCard_Base64",
    files: "GetFileInfo",
  };
  const groups = await page.$$eval("#requests details", (sections) => sections.map((section) => section.dataset.group));
  assert.deepEqual([...groups].sort(), Object.keys(requests).sort(), "every group of the reference has its forms");
  for (const method of Object.values(requests)) {
    await page.click(`form[data-method="${method}"] button`);
    await page.waitForFunction((name) => document.getElementById("reply-method").textContent === name, method);
    const reply = JSON.parse(await page.textContent("#reply"));
    assert.equal(reply.method, method);
    assert.equal(reply.retVal, 0, `${method} answered ${reply.retVal} ${reply.errMsg}`);
  }
  await page.click('form[data-method="GetDevID"] button');
  await page.waitForFunction(() => document.getElementById("reply-method").textContent === "GetDevID");
  assert.match(await page.textContent("#reply"), /"devID": "SIMDEV-0001"/);
  assert.equal(await page.textContent("#busy"), "no");
  if (screenshotFile) await page.screenshot({ path: screenshotFile });
  await page.close();
});

test("three calls made together get three answers, none refused as busy", async () => {
  const page = await openConsole(consoleOrigin);
  const replies = await inPage(page, `
    const client = await CounterMate.connect(argument);
    const replies = await Promise.all([1, 2, 3].map(() => client.call("GetDevID")));
    client.close();
    return replies;`, stack.url);
  assert.deepEqual(replies.map((reply) => [reply.method, reply.retVal, reply.devID]),
    Array(3).fill(["GetDevID", 0, "SIMDEV-0001"]));
  // The same three requests written on a socket at once: the service refuses the second and
  // third, which is what the client's queue spares the page.
  const refused = await page.evaluate(async (url) => {
    const socket = new WebSocket(url);
    await new Promise((resolve) => { socket.onopen = resolve; });
    const replies = [];
    const all = new Promise((resolve) => {
      socket.onmessage = (event) => { replies.push(JSON.parse(event.data)); if (replies.length === 3) resolve(); };
    });
    for (let count = 0; count < 3; count += 1) socket.send('{"method":"GetDevID","args":{}}');
    await all;
    socket.close();
    return replies.filter((reply) => reply.retVal === -17).length;
  }, stack.url);
  assert.equal(refused, 2);
  await page.close();
});

test("a call of a method the client does not know rejects at once", async () => {
  const page = await openConsole(consoleOrigin);
  const outcome = await inPage(page, `
    const client = await CounterMate.connect(argument);
    const results = [];
    for (const method of ["GetDevId", "NoSuchRequest"]) {
      try { await client.call(method); results.push("resolved"); }
      catch (error) { results.push([error.code, error.message]); }
    }
    client.close();
    return results;`, stack.url);
  assert.equal(outcome[0][0], "unknown-method");
  assert.match(outcome[0][1], /did you mean GetDevID\?/);
  assert.equal(outcome[1][0], "unknown-method");
  await page.close();
});

test("a dropped connection fails its running call and reconnects when the service is back", async () => {
  const page = await openConsole(consoleOrigin);
  await inPage(page, `
    const client = await CounterMate.connect(argument, { reconnectDelay: 50, reconnectDelayMax: 200 });
    window.testClient = client;
    window.states = [];
    client.on("state", (state) => window.states.push(state));
    window.runningCall = client.call("ReadQR", { outTimes: 30 }).then(
      () => "resolved", (error) => error.code);`, stack.url);
  // ReadQR waits on the terminal, which never answers it: the service is busy with it.
  await waitForServiceBusy(page);
  await stack.stopHost();
  assert.equal(await page.evaluate(() => window.runningCall), "connection-lost");
  await page.waitForFunction(() => window.states.includes("reconnecting"));
  const whileAway = await page.evaluate(() => window.testClient.call("GetDevID").then(() => "resolved", (error) => error.code));
  assert.equal(whileAway, "not-connected");
  await stack.startHost();
  await page.waitForFunction(() => window.testClient.state === "connected");
  const reply = await page.evaluate(() => window.testClient.call("GetDevID"));
  assert.equal(reply.retVal, 0);
  await page.evaluate(() => window.testClient.close());
  await page.close();
});

// Waits until the service reports a running request, asking it beside the queue.
async function waitForServiceBusy(page) {
  await page.waitForFunction(async () => (await window.testClient.call("GetServiceStatus")).busy === true,
    null, { polling: 50 });
}

test("a page of an origin that the configuration does not allow is refused", async () => {
  const page = await openConsole(otherOrigin);
  assert.equal(await page.textContent("#state"), "closed");
  assert.match(await page.textContent("#last-error"), /not reachable at ws:\/\/127\.0\.0\.1:\d+\//);
  const code = await inPage(page, `
    try { await CounterMate.connect(argument); return "connected"; }
    catch (error) { return error.code; }`, stack.url);
  assert.equal(code, "unreachable");
  await page.close();
});
