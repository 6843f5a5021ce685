#!/usr/bin/env node
// The client between stream frames and replies, against a stand-in for the service that answers
// each request with a scripted list of messages: frames reach the "frame" listeners and never
// answer a call, except that CamGetVideoStream, which has no reply when its preview starts (or
// runs already), is answered by the first preview frame; its failure reply answers it too.
//   client_stream_test.mjs   (node --experimental-websocket, Debian's node-ws for the stand-in)
import assert from "node:assert/strict";
import { createRequire } from "node:module";
import { test, before, after } from "node:test";

import CounterMate from "../countermate.js";

const skipped = 77;

function loadNodeWs() {
  try {
    return createRequire(import.meta.url)("/usr/share/nodejs/ws");
  } catch {
    return null;
  }
}

const ws = loadNodeWs();
if (!ws) {
  console.log("skipped: Debian's node-ws is not installed (scripts/setup installs it)");
  process.exit(skipped);
}
if (typeof globalThis.WebSocket !== "function") {
  console.log("skipped: this node has no WebSocket (node 20.10 or later, with --experimental-websocket)");
  process.exit(skipped);
}

const picture = "/9j/4AAQ";
const frame = (method, retVal = 0, imgBase64 = picture) => ({ method, retVal, imgBase64 });
const reply = (method, retVal = 0, members = {}) => ({ method, retVal, errMsg: retVal === 0 ? "" : "失败", ...members });

// What the stand-in sends for each request it receives, by method; the current script is
// replaced per case.
let script = {};
let server;
let url;

before(async () => {
  server = new ws.WebSocketServer({ host: "127.0.0.1", port: 0 });
  await new Promise((resolve) => server.on("listening", resolve));
  server.on("connection", (socket) => {
    socket.on("message", (data) => {
      for (const message of script[JSON.parse(String(data)).method] ?? []) socket.send(JSON.stringify(message));
    });
  });
  url = `ws://127.0.0.1:${server.address().port}/`;
});

after(() => server.close());

// Makes `methods` as calls together (the client queues them) and resolves to each call's
// resolution and every frame the listener saw, in order.
async function run(methods) {
  const client = await CounterMate.connect(url, { reconnect: false });
  const frames = [];
  client.on("frame", (seen) => frames.push([seen.method, seen.retVal, seen.base64]));
  try {
    const replies = await Promise.all(methods.map((method) => client.call(method, {}, { timeout: 5000 })));
    return { replies, frames };
  } finally {
    client.close();
  }
}

const cases = [
  {
    name: "a preview frame sent before VideoStart's reply reaches the listener and leaves the call to its reply",
    script: { VideoStart: [frame("VideoStream"), reply("VideoStart"), frame("VideoStream")], GetDevID: [reply("GetDevID", 0, { devID: "D1" })] },
    calls: ["VideoStart", "GetDevID"],
    replies: [reply("VideoStart"), reply("GetDevID", 0, { devID: "D1" })],
    frames: [["VideoStream", 0, picture], ["VideoStream", 0, picture]],
  },
  {
    name: "signing-mirror frames between a call and its reply answer nothing",
    script: { GetDevID: [frame("ScreenStream"), frame("ScreenStream", 1, ""), reply("GetDevID", 0, { devID: "D1" })] },
    calls: ["GetDevID"],
    replies: [reply("GetDevID", 0, { devID: "D1" })],
    frames: [["ScreenStream", 0, picture], ["ScreenStream", 1, ""]],
  },
  {
    name: "CamGetVideoStream is answered by its first frame, and the next queued call is then sent",
    script: { CamGetVideoStream: [frame("CamGetVideoStream"), frame("CamGetVideoStream")], VideoStop: [reply("VideoStop")] },
    calls: ["CamGetVideoStream", "VideoStop"],
    replies: [frame("CamGetVideoStream"), reply("VideoStop")],
    frames: [["CamGetVideoStream", 0, picture], ["CamGetVideoStream", 0, picture]],
  },
  {
    name: "CamGetVideoStream while a VideoStart preview runs is answered by that preview's next frame",
    script: { CamGetVideoStream: [frame("VideoStream")] },
    calls: ["CamGetVideoStream"],
    replies: [frame("VideoStream")],
    frames: [["VideoStream", 0, picture]],
  },
  {
    name: "CamGetVideoStream that cannot start is answered by its failure reply, which is no frame",
    script: { CamGetVideoStream: [reply("CamGetVideoStream", -5)] },
    calls: ["CamGetVideoStream"],
    replies: [reply("CamGetVideoStream", -5)],
    frames: [],
  },
  {
    name: "a camera failure frame answers CamGetVideoStream with its retVal",
    script: { CamGetVideoStream: [frame("CamGetVideoStream", 1, "")] },
    calls: ["CamGetVideoStream"],
    replies: [frame("CamGetVideoStream", 1, "")],
    frames: [["CamGetVideoStream", 1, ""]],
  },
  {
    name: "a photo reply carries imgBase64 and errMsg: a reply, not a frame",
    script: { CamGetCameraImage: [frame("CamGetVideoStream"), reply("CamGetCameraImage", 0, { imgBase64: picture })] },
    calls: ["CamGetCameraImage"],
    replies: [reply("CamGetCameraImage", 0, { imgBase64: picture })],
    frames: [["CamGetVideoStream", 0, picture]],
  },
];

for (const entry of cases) {
  test(entry.name, async () => {
    script = entry.script;
    const { replies, frames } = await run(entry.calls);
    assert.deepEqual(replies, entry.replies);
    assert.deepEqual(frames, entry.frames);
  });
}
