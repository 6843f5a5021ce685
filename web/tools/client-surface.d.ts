/** A JSON value, as the service embeds the terminal's own JSON texts (`idInfo`, `qrCode`, ...). */
export type JsonValue = string | number | boolean | null | JsonValue[] | { [key: string]: JsonValue };

/** Every request name the client knows. */
/* @request-method-union */

/** The members every reply carries. */
export interface Reply<M extends string = string> {
  /** the request's name */
  method: M;
  /** 0 for success; the codes are listed in docs/errors.md; -17 means another page's request runs */
  retVal: number;
  /** the text for retVal, in Chinese as the service sends it */
  errMsg: string;
}

/**
 * A stream frame as the service sends it. It answers a call whose request sends no reply when
 * its stream starts (CamGetVideoStream), and every frame also reaches the "frame" listeners.
 */
export interface FrameMessage<M extends string = string> {
  method: M;
  /** 0 for a picture; another value reports that the stream failed and has ended */
  retVal: number;
  /** the JPEG in Base64 (empty when retVal is not 0) */
  imgBase64: string;
}

/* @request-types */

/** One frame of a stream: the camera preview or the signing-screen mirror. */
export interface Frame {
  /** "CamGetVideoStream" or "VideoStream" (camera preview), "ScreenStream" (signing mirror) */
  method: string;
  /** 0 for a picture; another value reports that the stream failed and ends */
  retVal: number;
  /** the JPEG in Base64, as it arrived (empty when retVal is not 0) */
  base64: string;
  /** the JPEG's bytes, decoded from base64 when first read */
  readonly jpeg: Uint8Array;
}

/** "connected"; "reconnecting" after the connection dropped; "closed" after close() or when reconnecting is off. */
export type ConnectionState = "connected" | "reconnecting" | "closed";

export interface StateDetail {
  /** the number of the reconnection attempt about to be made (reconnecting only) */
  attempt?: number;
  /** milliseconds until that attempt (reconnecting only) */
  delay?: number;
}

export interface CallOptions {
  /**
   * Milliseconds to wait for the reply once the request is sent (time in the queue does not
   * count). Default: the request's outTimes plus 10 s, or a wait chosen per request. After a
   * time-out the service may still be running the request: the next queued call is sent once
   * its late reply has come (and been dropped) or the request's own wait is over, since the
   * service would refuse it as busy before.
   */
  timeout?: number;
}

export interface ConnectOptions {
  /** the WebSocket class to use (default: globalThis.WebSocket) */
  WebSocket?: { new (url: string): WebSocket };
  /** milliseconds that connect() waits for the first connection (default 5000) */
  connectTimeout?: number;
  /** reconnect when the connection drops (default true) */
  reconnect?: boolean;
  /** milliseconds before the first reconnection attempt (default 250); each next one waits twice as long */
  reconnectDelay?: number;
  /** the longest wait between reconnection attempts, in milliseconds (default 5000) */
  reconnectDelayMax?: number;
}

/** Why a connect() or call() failed. */
export type CounterMateErrorCode =
  | "unreachable" | "timeout" | "unknown-method" | "bad-arguments" | "connection-lost" | "not-connected" | "closed";

export declare class CounterMateError extends Error {
  readonly code: CounterMateErrorCode;
  /** the request's name, for a failed call */
  readonly method?: string;
}

/** One request's description, as the reference gives it. */
export interface RequestDescription {
  method: RequestMethod;
  summary: string;
  args: { name: string; type: string; doc: string; default?: JsonValue; required?: true; example?: JsonValue }[];
  /** the reply's members beside method, retVal and errMsg */
  reply: string[];
  /** answered at once beside a running request; sent without queueing */
  immediate?: true;
  /** seconds the service may take when the request gives no outTimes */
  wait?: number;
  /** the method of the stream frames the request starts */
  starts?: string;
  /** the frame methods whose first frame answers the request when it sends no reply of its own */
  frameAnswers?: string[];
}

export interface RequestGroup {
  group: string;
  title: string;
  requests: RequestDescription[];
}

/** A connection to the service. Calls are queued and sent one at a time, so the page never gets -17 from its own calls. */
export declare class CounterMateClient {
  /** the service's URL */
  readonly url: string;
  readonly state: ConnectionState;
  // call(method, args, options) sends a request and resolves to its reply whatever its retVal.
  // It rejects with a CounterMateError on time-out, for a method the client does not know, and
  // when the connection is lost or not there. CancelOpt and GetServiceStatus are sent at once,
  // beside the queue.
  /* @call-overloads */
  /** Calls `listener` with every stream frame; returns a function that removes it. */
  on(event: "frame", listener: (frame: Frame) => void): () => void;
  /** Calls `listener` whenever the connection's state changes; returns a function that removes it. */
  on(event: "state", listener: (state: ConnectionState, detail: StateDetail) => void): () => void;
  off(event: "frame" | "state", listener: (...values: never[]) => void): void;
  /** Closes the connection for good: pending calls reject with "closed", no reconnection follows. */
  close(): void;
}

export declare const CounterMate: {
  /** "ws://127.0.0.1:9600/" */
  readonly defaultUrl: string;
  /** every request the client knows, by group, in the reference's order */
  readonly requests: RequestGroup[];
  /** Connects; rejects with a CounterMateError (code "unreachable") naming the URL when the service cannot be reached there. */
  connect(url?: string, options?: ConnectOptions): Promise<CounterMateClient>;
};

export default CounterMate;
