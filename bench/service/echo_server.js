// A plain WebSocket echo server on Node's ws package, the yardstick for the service's round trip.
// Usage: node echo_server.js PORT
const path = require('path');
let ws;
try {
  ws = require('ws');
} catch (error) {
  ws = require(path.join('/usr/share/nodejs', 'ws'));
}
const port = Number(process.argv[2]);
const server = new ws.WebSocketServer({ port, host: '127.0.0.1' });
server.on('connection', (socket) => {
  socket.on('message', (data, isBinary) => socket.send(data, { binary: isBinary }));
});
server.on('listening', () => console.log('listening'));
