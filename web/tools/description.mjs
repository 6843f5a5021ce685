// Reads the request description, web/requests/<group>.json, and checks it: every file is one
// group, every request is described once, and every argument and reply member has a known type.
// Shared by the generator and the agreement test, so both see the same requests.
import { readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";

export const valueTypes = ["integer", "number", "string", "boolean", "json", "object", "string[]", "object[]"];
// Members every reply carries; a request's own members are listed beside them.
export const envelopeMembers = ["method", "retVal", "errMsg"];

class DescriptionError extends Error {}

function fail(file, message) {
  throw new DescriptionError(`${file}: ${message}`);
}

function checkValue(file, where, value) {
  if (typeof value.name !== "string" || !/^[A-Za-z_][A-Za-z0-9_]*$/.test(value.name)) {
    fail(file, `${where}: a name made of letters, digits and _ is needed, not ${JSON.stringify(value.name)}`);
  }
  if (!valueTypes.includes(value.type)) {
    fail(file, `${where} ${value.name}: type must be one of ${valueTypes.join(", ")}, not ${JSON.stringify(value.type)}`);
  }
  if (typeof value.doc !== "string" || value.doc === "") fail(file, `${where} ${value.name}: a doc text is needed`);
}

function checkArgument(file, method, argument) {
  checkValue(file, `${method} argument`, argument);
  const hasDefault = Object.hasOwn(argument, "default");
  if (hasDefault === (argument.required === true)) {
    fail(file, `${method} argument ${argument.name}: give either a default or "required": true`);
  }
}

function checkRequest(file, request) {
  if (typeof request.method !== "string" || request.method === "") fail(file, "a request without a method name");
  const method = request.method;
  if (typeof request.summary !== "string" || request.summary === "") fail(file, `${method}: a summary is needed`);
  if (!Array.isArray(request.args) || !Array.isArray(request.reply)) fail(file, `${method}: args and reply must be lists`);
  const argumentNames = new Set();
  for (const argument of request.args) {
    checkArgument(file, method, argument);
    if (argumentNames.has(argument.name)) fail(file, `${method}: argument ${argument.name} twice`);
    argumentNames.add(argument.name);
  }
  const memberNames = new Set(envelopeMembers);
  for (const member of request.reply) {
    checkValue(file, `${method} reply member`, member);
    if (memberNames.has(member.name)) fail(file, `${method}: reply member ${member.name} twice or in the envelope`);
    memberNames.add(member.name);
  }
  if (Object.hasOwn(request, "wait") && !(Number.isInteger(request.wait) && request.wait > 0)) {
    fail(file, `${method}: wait must be a positive number of seconds`);
  }
  const lacks = request.lacks ?? [];
  if (!Array.isArray(lacks) || !lacks.every((member) => member === "retVal" || member === "errMsg")) {
    fail(file, `${method}: lacks lists the envelope members the reply leaves out: "retVal", "errMsg"`);
  }
  if (Object.hasOwn(request, "shortOnFailure") && request.shortOnFailure !== true) {
    fail(file, `${method}: shortOnFailure is true or left out`);
  }
  if (Object.hasOwn(request, "starts") && !/^[A-Za-z_]+$/.test(request.starts)) {
    fail(file, `${method}: starts names the method of the stream frames the request starts`);
  }
  if (Object.hasOwn(request, "successText") && typeof request.successText !== "string") {
    fail(file, `${method}: successText is the errMsg text of a success`);
  }
  checkFrameAnswers(file, request);
}

// A request that sends no reply when its stream starts is answered by a frame: frameAnswers
// names the frame methods that may answer it, its own stream's among them.
function checkFrameAnswers(file, request) {
  if (!Object.hasOwn(request, "frameAnswers")) return;
  const methods = request.frameAnswers;
  if (!Array.isArray(methods) || methods.length === 0 || !methods.every((name) => /^[A-Za-z_]+$/.test(name))) {
    fail(file, `${request.method}: frameAnswers lists the methods of the stream frames that answer the request`);
  }
  if (!methods.includes(request.starts)) {
    fail(file, `${request.method}: frameAnswers needs "starts", and lists the frames of the stream it starts`);
  }
}

function checkGroup(file, group) {
  for (const key of ["group", "title", "intro"]) {
    if (typeof group[key] !== "string" || group[key] === "") fail(file, `"${key}" text is needed`);
  }
  if (!Number.isInteger(group.order)) fail(file, `"order" must be an integer (the group's place in the reference)`);
  if (!Array.isArray(group.requests) || group.requests.length === 0) fail(file, `"requests" must be a list of requests`);
  group.requests.forEach((request) => checkRequest(file, request));
}

// The groups of `folder`, in their reference order, each with its requests in file order.
// Throws a DescriptionError naming the file and the entry at the first fault.
export function loadDescription(folder) {
  const groups = [];
  const methods = new Map();
  for (const name of readdirSync(folder).filter((entry) => entry.endsWith(".json")).sort()) {
    let group;
    try {
      group = JSON.parse(readFileSync(join(folder, name), "utf8"));
    } catch (error) {
      fail(name, `not JSON: ${error.message}`);
    }
    checkGroup(name, group);
    for (const request of group.requests) {
      if (methods.has(request.method)) fail(name, `${request.method} is described in ${methods.get(request.method)} too`);
      methods.set(request.method, name);
    }
    groups.push(group);
  }
  const orders = new Set();
  for (const group of groups) {
    if (orders.has(group.order)) fail(`${group.group}.json`, `another group has order ${group.order}`);
    orders.add(group.order);
  }
  return groups.sort((a, b) => a.order - b.order);
}

export function describedMethods(groups) {
  return groups.flatMap((group) => group.requests.map((request) => request.method));
}

export { DescriptionError };
