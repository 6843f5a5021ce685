// The service with the terminal simulator, for the browser tests: a deploy folder of its own
// (the host copied, everything else linked, a CONFIG.ini that allows the given origins), the
// simulator on a socket in a temporary folder, and the host on a free loopback port. With a
// document camera, the service drives the camera driver (CameraType 1), whose document camera
// is a file-backed device showing the given JPEG.
import { execFile } from "node:child_process";
import { copyFileSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, symlinkSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";

import { freePort, startHost, startTerminalSimulator } from "../tools/processes.mjs";

// countermate-call's exit status for a reply whose retVal is not 0: the service answered.
const answeredWithFailure = 1;
// The USB vendor and product the camera driver knows its document camera by.
const documentCameraUsbId = "0C45p6366";

// The host changes into the folder of its program, so the program is copied and the rest linked.
function makeDeployCopy(deploy, folder, allowedOrigins, cameraType) {
  for (const entry of readdirSync(deploy)) {
    if (entry === "countermate-host") copyFileSync(join(deploy, entry), join(folder, entry));
    else if (entry !== "CONFIG.ini") symlinkSync(join(deploy, entry), join(folder, entry));
  }
  const shipped = readFileSync(join(deploy, "CONFIG.ini"), "utf8");
  writeFileSync(join(folder, "CONFIG.ini"), shipped
    .replace(/^AllowedOrigins=.*$/m, `AllowedOrigins=${allowedOrigins.join(",")}`)
    .replace(/^CameraType=.*$/m, `CameraType=${cameraType}`));
}

// The device tree the camera driver probes (COUNTERMATE_DEV_ROOT, COUNTERMATE_SYSFS_ROOT), with
// the document camera's node a regular file holding `jpeg`; returns the host's environment.
function makeDocumentCamera(folder, jpeg) {
  const devices = join(folder, "camera", "dev");
  const sysfsDevice = join(folder, "camera", "sys", "video0", "device");
  mkdirSync(devices, { recursive: true });
  mkdirSync(sysfsDevice, { recursive: true });
  writeFileSync(join(devices, "video0"), jpeg);
  writeFileSync(join(sysfsDevice, "modalias"), `usb:v${documentCameraUsbId}d0100dcEFdsc02dp01ic0Eisc01ip00in00\n`);
  return { COUNTERMATE_DEV_ROOT: devices, COUNTERMATE_SYSFS_ROOT: join(folder, "camera", "sys") };
}

function answers(deploy, url) {
  return new Promise((resolve) => {
    execFile(join(deploy, "countermate-call"), ["--url", url, "--timeout", "5", "GetServiceStatus"],
      (error) => resolve(!error || error.code === answeredWithFailure));
  });
}

async function waitUntilAnswering(deploy, url, host) {
  while (!(await answers(deploy, url))) {
    if (host.exited) throw new Error(`countermate-host stopped:\n${host.output()}`);
    await host.exitedOrAfter(50);
  }
}

// Starts the stack; `scenario` is the simulator's script of answers (see scripts/demo --help);
// `documentCamera`, a JPEG's bytes, selects the camera driver with that picture as its camera.
export async function startStack({ deploy: deployFolder, allowedOrigins, scenario = {}, documentCamera = null }) {
  const deploy = resolve(deployFolder);
  const folder = mkdtempSync(join(tmpdir(), "countermate-web-test."));
  const deployCopy = join(folder, "deploy");
  const storage = join(folder, "storage");
  mkdirSync(deployCopy);
  mkdirSync(storage);
  makeDeployCopy(deploy, deployCopy, allowedOrigins, documentCamera ? 1 : 0);
  const hostEnv = documentCamera ? makeDocumentCamera(folder, documentCamera) : {};
  writeFileSync(join(folder, "scenario.json"), JSON.stringify(scenario));
  const socket = join(folder, "terminal.sock");
  const simulator = await startTerminalSimulator(deploy, socket, storage, join(folder, "scenario.json"));
  const port = await freePort();
  const url = `ws://127.0.0.1:${port}/`;
  const stack = {
    url,
    host: null,
    async startHost() {
      stack.host = startHost(deployCopy, port, socket, hostEnv);
      await waitUntilAnswering(deployCopy, url, stack.host);
    },
    async stopHost() {
      await stack.host.stop();
    },
    async stop() {
      if (stack.host) await stack.host.stop();
      await simulator.stop();
      rmSync(folder, { force: true, recursive: true });
    },
  };
  try {
    await stack.startHost();
  } catch (error) {
    await stack.stop();
    throw error;
  }
  return stack;
}
