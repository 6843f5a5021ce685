#!/usr/bin/env node
// The console page and the client in a real browser (Debian's chromium, driven by
// playwright-core), against the service and the terminal simulator of a build's deploy folder.
//   browser_tests.mjs SOURCE_DIR DEPLOY_DIR [--screenshot FILE]
// Exits 77 (skipped) when chromium or playwright-core is missing; --screenshot saves the console
// answering a request.
import { existsSync } from "node:fs";
import { createRequire } from "node:module";
import { spawn } from "node:child_process";
import { dirname, join, resolve } from "node:path";
import { test, before, after } from "node:test";
import assert from "node:assert/strict";

import CounterMate from "../countermate.js";
import { freePort } from "../tools/processes.mjs";
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

// A page of `origin` showing the console for the service at `url`, connected (or given up) when
// it resolves.
async function openConsole(origin, url = stack.url) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  await page.goto(`${origin}/?url=${encodeURIComponent(url)}`);
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

// Clicks the Send button of `method`'s form and resolves to the reply the console then shows.
async function sendFromConsole(page, method) {
  await page.click(`form[data-method="${method}"] button`);
  await page.waitForFunction((name) => document.getElementById("reply-method").textContent === name, method);
  return JSON.parse(await page.textContent("#reply"));
}

test("the console connects and shows the reply of one request of each group", async () => {
  const page = await openConsole(consoleOrigin);
  assert.equal(await page.textContent("#state"), "connected");
  // One request of each group, with a member of its reply that only a real answer carries (the
  // groups of requests added later run here once they have a row).
  const requests = [
    ["service", "GetServiceStatus", (reply) => reply.terminal === "connected"],
    ["terminal", "GetDevID", (reply) => reply.devID === "SIMDEV-0001"],
    ["signing", "GetSignName_Base64", (reply) => reply.signPicBase64.length > 0],
    ["files", "GetFileInfo", (reply) => reply.fileNames !== undefined],
    ["camera", "CamGetResolutionList", (reply) => reply.resolutionList.split("|").includes("1600*1200")],
    ["identity", "ReadIDCard_Base64", (reply) => Object.keys(reply.idInfo).length > 0],
  ];
  const groups = await page.$$eval("#requests details", (sections) => sections.map((section) => section.dataset.group));
  const forms = await page.$$eval("#requests form", (all) => all.map((form) => form.dataset.method));
  assert.deepEqual(groups, CounterMate.requests.map((group) => group.group), "a section for every group, in the reference's order");
  assert.deepEqual(forms, CounterMate.requests.flatMap((group) => group.requests.map((request) => request.method)));
  for (const [group, method, answered] of requests) {
    assert.ok(groups.includes(group), `no group ${group}`);
    const reply = await sendFromConsole(page, method);
    assert.equal(reply.retVal, 0, `${method} answered ${reply.retVal} ${reply.errMsg}`);
    assert.ok(answered(reply), `${method}'s reply lacks its result: ${JSON.stringify(reply)}`);
  }
  // The card's photo and both sides, drawn from the last reply.
  await page.waitForFunction(() => [...document.querySelectorAll("#pictures img")].filter((image) => image.naturalWidth > 0).length === 3);
  assert.equal(await page.textContent("#busy"), "no");
  assert.equal(await page.textContent("#last-error"), "none");
  if (screenshotFile) await page.screenshot({ path: screenshotFile });
  await page.close();
});

test("scripts/demo serves the console, which drives the demo's service", async () => {
  const port = await freePort();
  const demo = spawn(join(sourceFolder, "scripts", "demo"), ["--port", String(port)], {
    env: { ...process.env, COUNTERMATE_DEMO_NO_BUILD: "1", COUNTERMATE_BUILD_DIR: dirname(deploy) },
    stdio: ["ignore", "pipe", "pipe"],
  });
  let output = "";
  const address = new Promise((resolve, reject) => {
    demo.stdout.on("data", (chunk) => {
      output += chunk;
      const found = /^Console page: (\S+)$/m.exec(output);
      if (found) resolve(found[1]);
    });
    demo.stderr.on("data", (chunk) => { output += chunk; });
    demo.on("exit", () => reject(new Error(`scripts/demo stopped:\n${output}`)));
  });
  try {
    const page = await browser.newPage();
    await page.goto(await address);
    await page.waitForFunction(() => document.getElementById("state").textContent === "connected");
    const reply = await sendFromConsole(page, "GetDevID");
    assert.equal(reply.devID, "SIMDEV-0001");
    await page.close();
  } finally {
    const stopped = new Promise((resolve) => demo.on("exit", resolve));
    demo.kill("SIGINT");
    await stopped;
  }
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

test("a call of a method the client does not know, or with unusable arguments, rejects at once", async () => {
  const page = await openConsole(consoleOrigin);
  const cases = [
    [["GetDevId"], "unknown-method", /unknown request method "GetDevId" \(did you mean GetDevID\?\)/],
    [["NoSuchRequest", {}], "unknown-method", /unknown request method "NoSuchRequest"$/],
    [["GetDevID", []], "bad-arguments", /arguments of GetDevID must be an object/],
    [["GetDevID", {}, { timeout: -1 }], "bad-arguments", /timeout of GetDevID/],
  ];
  const outcomes = await inPage(page, `
    const client = await CounterMate.connect(argument.url);
    const outcomes = [];
    for (const call of argument.calls) {
      outcomes.push(await client.call(...call).then(() => ["resolved", ""], (error) => [error.code, error.message]));
    }
    client.close();
    return outcomes;`, { url: stack.url, calls: cases.map(([call]) => call) });
  cases.forEach(([call, code, message], index) => {
    assert.equal(outcomes[index][0], code, JSON.stringify(call));
    assert.match(outcomes[index][1], message);
  });
  await page.close();
});

test("a call that times out rejects, and its late reply is not taken for the next call's", async () => {
  const page = await openConsole(consoleOrigin);
  const outcome = await inPage(page, `
    const client = await CounterMate.connect(argument);
    const timedOut = await client.call("ReadQR", { outTimes: 30 }, { timeout: 300 }).then(
      () => "resolved", (error) => error.code);
    // The service still waits on the terminal; the next call waits for it instead of being
    // refused as busy, and CancelOpt, sent beside the queue, ends the wait.
    const next = client.call("GetDevID");
    const cancel = await client.call("CancelOpt");
    const reply = await next;
    client.close();
    return { timedOut, cancel: cancel.retVal, next: [reply.method, reply.retVal, reply.devID] };`, stack.url);
  assert.deepEqual(outcome, { timedOut: "timeout", cancel: 0, next: ["GetDevID", 0, "SIMDEV-0001"] });
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

// The "ws" package of Debian's node-ws, for a service stand-in; null where it is missing.
function loadNodeWs() {
  try {
    return createRequire(import.meta.url)("/usr/share/nodejs/ws");
  } catch {
    return null;
  }
}

// A stand-in for the service that answers GetServiceStatus between stream frames: two preview
// frames before the reply and a signing-mirror frame after it, as streams interleave with replies.
async function startFramingService(WebSocketServer, jpegBase64) {
  const server = new WebSocketServer({ host: "127.0.0.1", port: 0 });
  await new Promise((resolve) => server.on("listening", resolve));
  server.on("connection", (socket) => {
    socket.on("message", (data) => {
      if (JSON.parse(String(data)).method !== "GetServiceStatus") return;
      const frame = (method) => JSON.stringify({ method, retVal: 0, imgBase64: jpegBase64 });
      socket.send(frame("VideoStream"));
      socket.send(frame("VideoStream"));
      socket.send(JSON.stringify({ method: "GetServiceStatus", retVal: 0, errMsg: "操作成功", busy: false }));
      socket.send(frame("ScreenStream"));
    });
  });
  return server;
}

test("stream frames reach the page as events and are drawn by the console", async (context) => {
  const ws = loadNodeWs();
  if (!ws) {
    context.skip("Debian's node-ws is not installed");
    return;
  }
  const page = await browser.newPage();
  await page.goto(`${consoleOrigin}/?url=ws://127.0.0.1:1/`);
  const jpegBase64 = await page.evaluate(() => {
    const canvas = Object.assign(document.createElement("canvas"), { width: 40, height: 30 });
    canvas.getContext("2d").fillRect(0, 0, 40, 30);
    return canvas.toDataURL("image/jpeg").split(",")[1];
  });
  const server = await startFramingService(ws.WebSocketServer, jpegBase64);
  try {
    const url = `ws://127.0.0.1:${server.address().port}/`;
    const seen = await inPage(page, `
      const client = await CounterMate.connect(argument);
      const frames = [];
      client.on("frame", (frame) => frames.push([frame.method, frame.retVal, frame.jpeg[0], frame.jpeg[1]]));
      const reply = await client.call("GetServiceStatus");
      // The second reply comes after the first one's trailing frame.
      await client.call("GetServiceStatus");
      client.close();
      return { reply, frames };`, url);
    assert.deepEqual(seen.reply, { method: "GetServiceStatus", retVal: 0, errMsg: "操作成功", busy: false });
    const preview = ["VideoStream", 0, 0xff, 0xd8];
    assert.deepEqual(seen.frames, [preview, preview, ["ScreenStream", 0, 0xff, 0xd8], preview, preview]);
    await page.goto(`${consoleOrigin}/?url=${encodeURIComponent(url)}`);
    await page.waitForFunction(() => document.getElementById("state").textContent === "connected");
    await sendFromConsole(page, "GetServiceStatus");
    await page.waitForFunction(() => document.getElementById("frame-info").textContent.startsWith("ScreenStream, frame 3"));
    await page.waitForFunction(() => document.getElementById("frame").naturalWidth === 40);
  } finally {
    server.close();
    await page.close();
  }
});

// The number of stream frames the console has drawn, from its frame line ("…, frame N, …").
async function framesShown(page) {
  const found = /frame (\d+)/.exec(await page.textContent("#frame-info"));
  return found ? Number(found[1]) : 0;
}

// Clicks a button of the preview panel and waits for the reply of `method` it sends.
async function clickForReply(page, button, method) {
  await page.click(button);
  await page.waitForFunction((name) => document.getElementById("reply-method").textContent === name, method);
  return JSON.parse(await page.textContent("#reply"));
}

// Whether the latest frame has decoded and is upright (wider than high) or turned a quarter.
function waitForFrameShape(page, upright) {
  return page.waitForFunction((wide) => {
    const frame = document.getElementById("frame");
    return frame.complete && frame.naturalWidth > 0 && (frame.naturalWidth > frame.naturalHeight) === wide;
  }, upright);
}

// The preview panel on a connected console: frames keep replacing the picture and decode, a quarter
// turn turns the next frames, a photo arrives, and the stop ends the frames.
async function checkPreviewPanel(page) {
  await page.click("#preview-start");
  await page.waitForFunction(() => document.getElementById("preview-state").textContent === "running (VideoStream)");
  await waitForFrameShape(page, true);
  // Frames keep coming (a still camera sends the same picture each time).
  const seen = await framesShown(page);
  await page.waitForFunction((count) => {
    const shown = /frame (\d+)/.exec(document.getElementById("frame-info").textContent);
    return Number(shown[1]) > count + 2;
  }, seen);
  assert.equal((await clickForReply(page, "#rotate-right", "CamSetRotateRight")).retVal, 0);
  await waitForFrameShape(page, false);
  assert.equal((await clickForReply(page, "#rotate-left", "CamSetRotateLeft")).retVal, 0);
  await waitForFrameShape(page, true);
  assert.equal((await clickForReply(page, "#zoom-in", "CamZoomIn")).retVal, 0);
  assert.equal((await clickForReply(page, "#zoom-out", "CamZoomOut")).retVal, 0);
  const photo = await clickForReply(page, "#photo-take", "CamGetCameraImage");
  assert.equal(photo.retVal, 0, `CamGetCameraImage answered ${photo.retVal} ${photo.errMsg}`);
  await page.waitForFunction(() => document.getElementById("photo").naturalWidth > 0);
  assert.match(await page.textContent("#photo-info"), /^photo, \d+ KiB$/);
  assert.equal((await clickForReply(page, "#preview-stop", "VideoStop")).retVal, 0);
  assert.equal(await page.textContent("#preview-state"), "stopped");
  const framesAtStop = await framesShown(page);
  // The stop is answered once the preview has ended, and a later reply comes after every frame
  // the preview sent: no frame arrives after the stop's reply.
  assert.equal((await sendFromConsole(page, "GetDevID")).retVal, 0);
  assert.equal(await framesShown(page), framesAtStop);
  assert.equal(await page.textContent("#last-error"), "none");
}

// A landscape JPEG of a light document on a dark desk, drawn by the browser.
async function documentPicture() {
  const page = await browser.newPage();
  try {
    const base64 = await page.evaluate(() => {
      const canvas = Object.assign(document.createElement("canvas"), { width: 800, height: 600 });
      const context = canvas.getContext("2d");
      context.fillStyle = "#303438";
      context.fillRect(0, 0, 800, 600);
      context.fillStyle = "#f4f1e8";
      context.fillRect(150, 120, 500, 360);
      return canvas.toDataURL("image/jpeg", 0.9).split(",")[1];
    });
    return Buffer.from(base64, "base64");
  } finally {
    await page.close();
  }
}

test("the console's preview panel drives the document camera (frames, rotation, zoom, a photo, stop); CamGetVideoStream resolves to its first frame", async () => {
  const cameraStack = await startStack({ deploy, allowedOrigins: [consoleOrigin], documentCamera: await documentPicture() });
  try {
    const page = await openConsole(consoleOrigin, cameraStack.url);
    await checkPreviewPanel(page);
    // CamGetVideoStream has no reply when its preview starts: the call resolves to the first frame.
    const outcome = await inPage(page, `
      const client = await CounterMate.connect(argument);
      const results = [];
      for (const method of ["CamInit", "CamOpen", "CamGetVideoStream", "CamClose"]) {
        const reply = await client.call(method);
        results.push([reply.method, reply.retVal, typeof reply.imgBase64 === "string" && reply.imgBase64.startsWith("/9j/")]);
      }
      client.close();
      return results;`, cameraStack.url);
    assert.deepEqual(outcome, [["CamInit", 0, false], ["CamOpen", 0, false], ["CamGetVideoStream", 0, true], ["CamClose", 0, false]]);
    await page.close();
  } finally {
    await cameraStack.stop();
  }
});

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
