#!/usr/bin/env node
// The console's static server answers only its own files, whatever path a request names, and
// keeps serving after a request that is not a URL.
import assert from "node:assert/strict";
import { request } from "node:http";
import { after, before, test } from "node:test";

import { serveConsole } from "../tools/serve-console.mjs";

let server;
let port;

before(async () => {
  server = await serveConsole(0);
  port = server.address().port;
});

after(() => server.close());

// The status and content type of GET `path`, sent as it is written.
function get(path) {
  return new Promise((resolve, reject) => {
    const sent = request({ host: "127.0.0.1", port, path, method: "GET" }, (response) => {
      response.resume();
      response.on("end", () => resolve([response.statusCode, response.headers["content-type"] ?? ""]));
    });
    sent.on("error", reject);
    // A server that never answers fails the case instead of holding the suite.
    sent.setTimeout(5000, () => sent.destroy(new Error(`no answer to ${path}`)));
    sent.end();
  });
}

test("only the console's files are served", async () => {
  const cases = [
    ["/", 200, /^text\/html/],
    ["/?url=ws://127.0.0.1:9600/", 200, /^text\/html/],
    ["/countermate.js", 200, /^text\/javascript/],
    ["/countermate-requests.js", 200, /^text\/javascript/],
    ["/../CMakeLists.txt", 404, /^text\/plain/],
    ["/%2e%2e/CMakeLists.txt", 404, /^text\/plain/],
    ["/tools/serve-console.mjs", 404, /^text\/plain/],
    ["/requests/terminal.json", 404, /^text\/plain/],
    ["http://[", 404, /^text\/plain/],
    ["/countermate.js", 200, /^text\/javascript/],
  ];
  for (const [path, status, type] of cases) {
    const [gotStatus, gotType] = await get(path);
    assert.equal(gotStatus, status, path);
    assert.match(gotType, type, path);
  }
});
