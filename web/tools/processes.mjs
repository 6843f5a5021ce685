// Child processes of the web tools and tests: countermate-host and the terminal simulator from a
// deploy folder, each stopped with SIGTERM and waited for.
import { spawn } from "node:child_process";
import { existsSync } from "node:fs";
import { createServer } from "node:net";
import { join } from "node:path";

// A TCP port on the loopback that nothing listens on right now.
export function freePort() {
  return new Promise((resolve, reject) => {
    const server = createServer();
    server.on("error", reject);
    server.listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// `program` with `args` and `env` added to this process's environment; its output is kept.
// A value of null in `env` removes that variable.
function startChild(program, args, env) {
  const childEnv = { ...process.env, ...env };
  for (const [name, value] of Object.entries(env)) if (value === null) delete childEnv[name];
  const child = spawn(program, args, { env: childEnv, stdio: ["ignore", "pipe", "pipe"] });
  let output = "";
  child.stdout.on("data", (chunk) => { output += chunk; });
  child.stderr.on("data", (chunk) => { output += chunk; });
  const exit = new Promise((resolve) => {
    child.on("exit", (code, signal) => resolve({ code, signal }));
    child.on("error", (error) => { output += String(error); resolve({ code: -1, signal: null }); });
  });
  const handle = {
    exited: false,
    pid: () => child.pid,
    output: () => output,
    exit,
    // Resolves after `ms` milliseconds, or sooner when the process ends.
    exitedOrAfter: (ms) => Promise.race([exit, new Promise((resolve) => setTimeout(resolve, ms))]),
    async stop() {
      if (!handle.exited) child.kill("SIGTERM");
      return exit;
    },
  };
  exit.then(() => { handle.exited = true; });
  return handle;
}

// countermate-host of `deploy` on `port`; `hidSocket` points libHid at a terminal simulator
// (absent: no terminal); `env` adds to its environment.
export function startHost(deploy, port, hidSocket, env = {}) {
  return startChild(join(deploy, "countermate-host"), ["--port", String(port)],
    { ...env, COUNTERMATE_HID_SIM: hidSocket || null });
}

// The terminal simulator of `deploy` on the socket `socket`, storing files under `storage` and
// answering as the file `scenario` says (absent: as a terminal would); resolves once the socket
// exists.
export async function startTerminalSimulator(deploy, socket, storage, scenario) {
  const args = ["--socket", socket, "--storage", storage, ...(scenario ? ["--scenario", scenario] : [])];
  const simulator = startChild(join(deploy, "countermate-terminal-sim"), args, {});
  while (!existsSync(socket)) {
    if (simulator.exited) throw new Error(`the terminal simulator stopped:\n${simulator.output()}`);
    await simulator.exitedOrAfter(20);
  }
  return simulator;
}
