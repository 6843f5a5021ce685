#!/usr/bin/env node
// Checks that the request description (web/requests/*.json) names exactly the requests the
// service answers: starts countermate-host from DEPLOY_DIR on a free loopback port (no terminal
// is needed), asks it for GetServiceStatus with countermate-call, and compares its request
// names with the described ones.
//   check-request-table.mjs DEPLOY_DIR
// Exits 0 when they agree, 1 naming every difference.
import { execFile } from "node:child_process";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

import { describedMethods, loadDescription } from "./description.mjs";
import { freePort, startHost } from "./processes.mjs";

const webFolder = join(dirname(fileURLToPath(import.meta.url)), "..");
// countermate-call's exit status when the service cannot be reached.
const unreachable = 3;

function callOnce(deploy, url, method) {
  return new Promise((resolve) => {
    execFile(join(deploy, "countermate-call"), ["--url", url, "--timeout", "5", method],
      (error, stdout) => resolve({ status: error ? error.code : 0, stdout }));
  });
}

// The reply once the service answers; null when the host has stopped first.
async function askService(deploy, url, host, method) {
  for (;;) {
    if (host.exited) return null;
    const { status, stdout } = await callOnce(deploy, url, method);
    if (status === 0 || status === 1) return JSON.parse(stdout);
    if (status !== unreachable) throw new Error(`countermate-call failed (${status}): is ${deploy} a built deploy folder?`);
    await host.exitedOrAfter(100);
  }
}

function difference(names, others) {
  return names.filter((name) => !others.has(name)).sort();
}

async function main() {
  const deploy = process.argv[2];
  if (!deploy) {
    console.error("usage: check-request-table.mjs DEPLOY_DIR");
    process.exit(2);
  }
  const described = describedMethods(loadDescription(join(webFolder, "requests")));
  const port = await freePort();
  const host = startHost(deploy, port);
  let reply;
  try {
    reply = await askService(deploy, `ws://127.0.0.1:${port}/`, host, "GetServiceStatus");
  } finally {
    await host.stop();
  }
  if (reply === null) {
    console.error(`countermate-host stopped before it answered:\n${host.output()}`);
    process.exit(1);
  }
  const served = reply.requests;
  const missing = difference(served, new Set(described));
  const extra = difference(described, new Set(served));
  if (missing.length > 0) console.error(`answered by the service but not described in web/requests: ${missing.join(", ")}`);
  if (extra.length > 0) console.error(`described in web/requests but not answered by the service: ${extra.join(", ")}`);
  if (missing.length > 0 || extra.length > 0) process.exit(1);
  console.log(`the description and the service agree on ${served.length} requests`);
}

await main();
