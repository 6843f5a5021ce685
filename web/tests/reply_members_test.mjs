#!/usr/bin/env node
// Every described request, sent through the client to the service on the terminal simulator with
// its default arguments (and the examples of required ones): its reply carries exactly the
// members the description lists beside method, retVal and errMsg, so the reference and the
// client's types say what a page really gets.
//   reply_members_test.mjs DEPLOY_DIR
import assert from "node:assert/strict";
import { test, before, after } from "node:test";

import CounterMate from "../countermate.js";
import { startStack } from "./stack.mjs";

const deploy = process.argv[2];
if (!deploy) {
  console.error("usage: reply_members_test.mjs DEPLOY_DIR");
  process.exit(2);
}
if (typeof globalThis.WebSocket !== "function") {
  console.log("skipped: this node has no WebSocket (node 20.10 or later, with --experimental-websocket)");
  process.exit(77);
}

const envelope = ["method", "retVal", "errMsg"];

let stack;
let client;

before(async () => {
  stack = await startStack({ deploy, allowedOrigins: [] });
  client = await CounterMate.connect(stack.url);
});

after(async () => {
  client?.close();
  await stack?.stop();
});

function defaultArgs(request) {
  return Object.fromEntries(request.args.map((argument) =>
    [argument.name, argument.required ? argument.example : argument.default]));
}

for (const group of CounterMate.requests) {
  test(`the replies of the ${group.group} requests carry the described members`, async () => {
    // A request that starts a stream is answered by its frames, which other suites check.
    for (const request of group.requests.filter((candidate) => !candidate.starts)) {
      const reply = await client.call(request.method, defaultArgs(request));
      assert.equal(reply.method, request.method);
      const carried = envelope.filter((member) => !(request.lacks ?? []).includes(member));
      const members = reply.retVal !== 0 && request.shortOnFailure ? [] : request.reply;
      assert.deepEqual(Object.keys(reply).sort(), [...carried, ...members].sort(),
        `${request.method} answered ${JSON.stringify(reply).slice(0, 300)}`);
    }
  });
}
