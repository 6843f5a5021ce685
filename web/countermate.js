// CounterMate client: one WebSocket connection to the counter's service, with the calls of the
// page queued so that the service never refuses one as busy (-17) because of another call of the
// same page, replies matched to their calls, stream frames delivered as events, and
// reconnection with back-off when the connection drops. An ES module without dependencies; it
// runs in browsers and in node (give node a WebSocket class in the options).
import { requestGroups } from "./countermate-requests.js";

const defaultUrl = "ws://127.0.0.1:9600/";
// The wait for a reply beyond the request's own wait on the customer.
const replyMarginSeconds = 10;
// The wait of a request that gives no outTimes and whose description names none.
const standardWaitSeconds = 20;

const requestsByMethod = new Map(
  requestGroups.flatMap((group) => group.requests.map((request) => [request.method, request])));

export class CounterMateError extends Error {
  constructor(code, message, method) {
    super(message);
    this.name = "CounterMateError";
    this.code = code;
    if (method !== undefined) this.method = method;
  }
}

function unknownMethodError(method) {
  const lower = String(method).toLowerCase();
  const likely = [...requestsByMethod.keys()].find((name) => name.toLowerCase() === lower);
  return new CounterMateError("unknown-method",
    `unknown request method ${JSON.stringify(method)}${likely ? ` (did you mean ${likely}?)` : ""}`, method);
}

// Milliseconds to wait for the reply of `method` with `args` when the page gives no timeout:
// the customer's wait (outTimes as sent, else its default) or the request's own wait, plus a
// margin for the answer's travel.
function defaultTimeout(request, args) {
  const given = Number(args.outTimes);
  const described = request.args.find((argument) => argument.name === "outTimes");
  const outTimes = Number.isFinite(given) ? given : described ? Number(described.default) : 0;
  const seconds = outTimes > 0 ? outTimes : request.wait ?? standardWaitSeconds;
  return (seconds + replyMarginSeconds) * 1000;
}

// A stream frame carries imgBase64 and no errMsg; every reply carries errMsg or no picture.
function isFrame(message) {
  return typeof message.imgBase64 === "string" && !Object.hasOwn(message, "errMsg");
}

// Whether a frame of `frameMethod` answers a call of `method`: only a request that sends no
// reply when it starts a stream (or finds one running) is answered by a frame, and only by the
// frames its description names; no other call ever takes a frame for its reply.
function answeredByFrame(method, frameMethod) {
  return requestsByMethod.get(method).frameAnswers?.includes(frameMethod) ?? false;
}

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let index = 0; index < binary.length; index += 1) bytes[index] = binary.charCodeAt(index);
  return bytes;
}

function frameOf(message) {
  let jpeg = null;
  return {
    method: message.method,
    retVal: message.retVal,
    base64: message.imgBase64,
    get jpeg() {
      if (jpeg === null) jpeg = decodeBase64(message.imgBase64);
      return jpeg;
    },
  };
}

// Calls each listener; one that throws is reported apart, without stopping the others or the
// client's own work.
function notify(listeners, ...values) {
  for (const listener of [...listeners]) {
    try {
      listener(...values);
    } catch (error) {
      setTimeout(() => { throw error; });
    }
  }
}

// Opens a WebSocket to `url`; resolves once it is open, rejects when it closes first or does not
// open within `timeout` milliseconds.
function openSocket(WebSocketClass, url, timeout) {
  return new Promise((resolve, reject) => {
    let socket;
    const unreachable = (why) => new CounterMateError("unreachable",
      `CounterMate service is not reachable at ${url}: ${why} (is the service running, and does its ` +
      "CONFIG.ini allow this page's origin?)");
    try {
      socket = new WebSocketClass(url);
    } catch (error) {
      reject(unreachable(error.message));
      return;
    }
    const timer = setTimeout(() => {
      socket.onopen = socket.onclose = socket.onerror = null;
      socket.close();
      reject(unreachable(`no connection within ${timeout} ms`));
    }, timeout);
    socket.onopen = () => {
      clearTimeout(timer);
      socket.onopen = socket.onclose = socket.onerror = null;
      resolve(socket);
    };
    socket.onerror = () => {};
    socket.onclose = () => {
      clearTimeout(timer);
      reject(unreachable("the connection was refused or closed during the handshake"));
    };
  });
}

class CounterMateClient {
  #options;
  #socket = null;
  #state = "connected";
  #listeners = { frame: new Set(), state: new Set() };
  // Calls waiting for their turn, and the one call of the queue that has been sent.
  #queue = [];
  #turn = null;
  // Every sent call without its reply yet, in sending order (the queue's turn and immediate ones).
  #sent = [];
  #reconnectTimer = null;
  #reconnectAttempt = 0;

  constructor(url, options, socket) {
    this.url = url;
    this.#options = options;
    this.#attach(socket);
  }

  get state() {
    return this.#state;
  }

  call(method, args = {}, { timeout } = {}) {
    const request = requestsByMethod.get(method);
    if (!request) return Promise.reject(unknownMethodError(method));
    if (args === null || typeof args !== "object" || Array.isArray(args)) {
      return Promise.reject(new CounterMateError("bad-arguments", `the arguments of ${method} must be an object`, method));
    }
    if (timeout !== undefined && !(Number.isFinite(timeout) && timeout > 0)) {
      return Promise.reject(new CounterMateError("bad-arguments", `the timeout of ${method} must be a positive number of milliseconds`, method));
    }
    if (this.#state !== "connected") {
      const code = this.#state === "closed" ? "closed" : "not-connected";
      return Promise.reject(new CounterMateError(code, `not connected to ${this.url} (${this.#state})`, method));
    }
    return new Promise((resolve, reject) => {
      const call = {
        method, args, resolve, reject,
        timeout: timeout ?? defaultTimeout(request, args),
        serviceWait: defaultTimeout(request, args),
        timer: null, holdTimer: null, abandoned: false,
      };
      if (request.immediate) this.#send(call);
      else {
        this.#queue.push(call);
        this.#nextTurn();
      }
    });
  }

  on(event, listener) {
    if (typeof listener !== "function") throw new TypeError(`the listener of "${event}" must be a function`);
    this.#listenersOf(event).add(listener);
    return () => this.off(event, listener);
  }

  off(event, listener) {
    this.#listenersOf(event).delete(listener);
  }

  close() {
    if (this.#state === "closed") return;
    clearTimeout(this.#reconnectTimer);
    this.#failAll("closed", "the client was closed");
    this.#detach();
    this.#setState("closed", {});
  }

  #listenersOf(event) {
    const listeners = this.#listeners[event];
    if (!listeners) throw new TypeError(`no event ${JSON.stringify(event)}: "frame" or "state"`);
    return listeners;
  }

  #setState(state, detail) {
    this.#state = state;
    notify(this.#listeners.state, state, detail);
  }

  #attach(socket) {
    this.#socket = socket;
    socket.onmessage = (event) => this.#receive(event.data);
    socket.onclose = () => this.#lost();
    socket.onerror = () => {};
  }

  #detach() {
    if (!this.#socket) return;
    this.#socket.onmessage = this.#socket.onclose = this.#socket.onerror = null;
    this.#socket.close();
    this.#socket = null;
  }

  #nextTurn() {
    if (this.#turn || this.#queue.length === 0 || this.#state !== "connected") return;
    this.#turn = this.#queue.shift();
    this.#send(this.#turn);
  }

  #send(call) {
    this.#sent.push(call);
    call.sentAt = Date.now();
    call.timer = setTimeout(() => this.#timedOut(call), call.timeout);
    try {
      this.#socket.send(JSON.stringify({ method: call.method, args: call.args }));
    } catch (error) {
      this.#finish(call);
      call.reject(new CounterMateError("connection-lost", `${call.method} could not be sent: ${error.message}`, call.method));
    }
  }

  // The call is answered or given up: it leaves the sent list, and the queue moves on.
  #finish(call) {
    clearTimeout(call.timer);
    clearTimeout(call.holdTimer);
    const index = this.#sent.indexOf(call);
    if (index >= 0) this.#sent.splice(index, 1);
    if (this.#turn === call) {
      this.#turn = null;
      this.#nextTurn();
    }
  }

  // The page's wait is over, but the service may still run the request and answer it: the call
  // keeps its place until that answer comes or the service's own wait is over, so that the next
  // call is not refused as busy and the late answer is not taken for another call's.
  #timedOut(call) {
    call.abandoned = true;
    call.reject(new CounterMateError("timeout", `no reply to ${call.method} within ${call.timeout} ms`, call.method));
    const remaining = call.sentAt + call.serviceWait - Date.now();
    if (remaining <= 0) this.#finish(call);
    else call.holdTimer = setTimeout(() => this.#finish(call), remaining);
  }

  #receive(data) {
    if (typeof data !== "string") return;
    let message;
    try {
      message = JSON.parse(data);
    } catch {
      return;
    }
    if (message === null || typeof message !== "object" || typeof message.method !== "string") return;
    const frame = isFrame(message);
    if (frame) notify(this.#listeners.frame, frameOf(message));
    const call = this.#sent.find((candidate) =>
      frame ? answeredByFrame(candidate.method, message.method) : candidate.method === message.method);
    if (!call) return;
    this.#finish(call);
    if (!call.abandoned) call.resolve(message);
  }

  #failAll(code, why) {
    const calls = [...this.#sent, ...this.#queue];
    this.#sent = [];
    this.#queue = [];
    this.#turn = null;
    for (const call of calls) {
      clearTimeout(call.timer);
      clearTimeout(call.holdTimer);
      if (!call.abandoned) call.reject(new CounterMateError(code, `${call.method}: ${why}`, call.method));
    }
  }

  #lost() {
    this.#socket = null;
    this.#failAll("connection-lost", `the connection to ${this.url} was lost`);
    if (this.#options.reconnect === false) {
      this.#setState("closed", {});
      return;
    }
    this.#reconnectAttempt = 0;
    this.#scheduleReconnect();
  }

  #scheduleReconnect() {
    const first = this.#options.reconnectDelay ?? 250;
    const longest = this.#options.reconnectDelayMax ?? 5000;
    const delay = Math.min(first * 2 ** this.#reconnectAttempt, longest);
    this.#reconnectAttempt += 1;
    this.#setState("reconnecting", { attempt: this.#reconnectAttempt, delay });
    this.#reconnectTimer = setTimeout(() => this.#reconnect(), delay);
  }

  async #reconnect() {
    let socket;
    try {
      socket = await openSocket(this.#options.WebSocket ?? globalThis.WebSocket, this.url,
        this.#options.connectTimeout ?? 5000);
    } catch {
      if (this.#state !== "closed") this.#scheduleReconnect();
      return;
    }
    if (this.#state === "closed") {
      socket.close();
      return;
    }
    this.#attach(socket);
    this.#setState("connected", {});
  }
}

async function connect(url = defaultUrl, options = {}) {
  const WebSocketClass = options.WebSocket ?? globalThis.WebSocket;
  if (typeof WebSocketClass !== "function") {
    throw new CounterMateError("unreachable", "no WebSocket class here: pass one as options.WebSocket");
  }
  const socket = await openSocket(WebSocketClass, url, options.connectTimeout ?? 5000);
  return new CounterMateClient(url, options, socket);
}

export const CounterMate = Object.freeze({ defaultUrl, requests: requestGroups, connect });
export default CounterMate;
