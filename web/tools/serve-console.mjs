#!/usr/bin/env node
// Serves the console page and the client on the loopback, nothing else: a fixed list of files of
// web/, so no request can reach another file.
//   serve-console.mjs [--port N]
// Listens on 127.0.0.1:N (default 9601; a free port when N is taken) and prints its address,
// http://127.0.0.1:PORT/, as its first line.
import { readFile } from "node:fs/promises";
import { createServer } from "node:http";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const webFolder = join(dirname(fileURLToPath(import.meta.url)), "..");
const served = new Map([
  ["/", ["console.html", "text/html; charset=utf-8"]],
  ["/console.html", ["console.html", "text/html; charset=utf-8"]],
  ["/countermate.js", ["countermate.js", "text/javascript; charset=utf-8"]],
  ["/countermate-requests.js", ["countermate-requests.js", "text/javascript; charset=utf-8"]],
]);

// The path of a request target, or null for one that is not a URL path.
function pathOf(target) {
  try {
    return new URL(target, "http://127.0.0.1").pathname;
  } catch {
    return null;
  }
}

async function answer(request, response) {
  const file = served.get(pathOf(request.url));
  if (request.method !== "GET" || !file) {
    response.writeHead(404, { "Content-Type": "text/plain; charset=utf-8" }).end("not found\n");
    return;
  }
  try {
    const body = await readFile(join(webFolder, file[0]));
    response.writeHead(200, { "Content-Type": file[1], "Cache-Control": "no-store" }).end(body);
  } catch (error) {
    response.writeHead(500, { "Content-Type": "text/plain; charset=utf-8" }).end(`${error.message}\n`);
  }
}

// Starts the server on `port` of 127.0.0.1, or on a free one when `port` is taken or 0;
// resolves to the server once it listens.
export function serveConsole(port = 0) {
  const listen = (wanted) => new Promise((resolve, reject) => {
    const server = createServer((request, response) => { answer(request, response); });
    server.once("error", reject);
    server.listen(wanted, "127.0.0.1", () => resolve(server));
  });
  return listen(port).catch((error) => {
    if (error.code !== "EADDRINUSE" || port === 0) throw error;
    return listen(0);
  });
}

function portArgument() {
  const index = process.argv.indexOf("--port");
  if (index < 0) return 9601;
  const port = Number(process.argv[index + 1]);
  if (!Number.isInteger(port) || port < 0 || port > 65535) {
    console.error(`serve-console: the port must be a number from 0 to 65535, not '${process.argv[index + 1]}'`);
    process.exit(2);
  }
  return port;
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const server = await serveConsole(portArgument());
  console.log(`http://127.0.0.1:${server.address().port}/`);
  for (const signal of ["SIGINT", "SIGTERM"]) process.on(signal, () => process.exit(0));
}
