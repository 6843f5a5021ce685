// An independent WebSocket peer (the "ws" package) for the server tests.
//   node ws_node_client.js echo PORT    sends messages, expects each back, pings, closes
//   node ws_node_client.js reset PORT   connects and resets the connection
//   node ws_node_client.js server       serves on a free port (printed), echoes every message
// Prints "ok" and exits 0 when everything went as expected; prints the reason and exits 1 if not.
'use strict';
const WebSocket = require('ws');

const [scenario, port] = process.argv.slice(2);

function fail(reason) {
  console.log('failed: ' + reason);
  process.exit(1);
}
setTimeout(() => fail('timed out'), 20000).unref();

function echo() {
  const socket = new WebSocket(`ws://127.0.0.1:${port}/`);
  const texts = [1, 125, 126, 65535, 65536, 4 * 1024 * 1024].map(
    (size) => 'x'.repeat(size - 1) + String.fromCharCode(65 + (size % 26)));
  const expected = [...texts, 'binary:1000', 'Hello, fragments', 'pong:abc'];
  let received = 0;
  const check = (what) => {
    if (what !== expected[received]) fail(`message ${received}: got ${String(what).slice(0, 40)}`);
    received += 1;
    if (received === expected.length) socket.close(1000, 'bye');
  };
  socket.on('open', () => {
    for (const text of texts) socket.send(text);
    socket.send(Buffer.alloc(1000, 7));
    socket.send('Hello, ', { fin: false });
    socket.send('fragments', { fin: true });
    socket.ping('abc');
  });
  socket.on('message', (data, isBinary) => {
    if (isBinary) check(`binary:${data.length}`);
    else check(data.toString());
  });
  socket.on('pong', (data) => check(`pong:${data.toString()}`));
  socket.on('close', (code) => {
    if (received !== expected.length) fail(`closed after ${received} messages`);
    if (code !== 1000) fail(`close code ${code}`);
    console.log('ok');
    process.exit(0);
  });
  socket.on('error', (error) => fail(error.message));
}

function reset() {
  const socket = new WebSocket(`ws://127.0.0.1:${port}/`);
  socket.on('open', () => {
    socket._socket.resetAndDestroy();
    console.log('ok');
    setTimeout(() => process.exit(0), 100);
  });
  socket.on('error', (error) => fail(error.message));
}

function server() {
  const wss = new WebSocket.Server({ host: '127.0.0.1', port: 0 }, () => {
    console.log(`port ${wss.address().port}`);
  });
  wss.on('connection', (socket) => {
    socket.on('message', (data, isBinary) => socket.send(data, { binary: isBinary }));
    socket.on('close', () => {
      console.log('ok');
      process.exit(0);
    });
  });
}

({ echo, reset, server }[scenario] || (() => fail('unknown scenario')))();
