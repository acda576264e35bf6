'use strict';
// A forwarding HTTP proxy in front of the tus server that breaks uploads on purpose.
//
//   node proxy.js --target PORT [--cut-after N] [--fail-once STATUS] [--trickle BYTES_PER_SEC]
//                 [--echo WHERE] [--offsets HOW]
//
// It listens on 127.0.0.1 at a free port, prints "listening PORT" once listening, and forwards every
// request to 127.0.0.1:TARGET on a connection of its own, streaming the body both ways. Headers pass
// unchanged (Host and Location included, so the server's Location names the proxy), but for the
// hop-by-hop ones, which belong to each connection.
//
// Faults:
//   --cut-after N       PATCH bodies are forwarded until N bytes of them have passed in all, then the
//                       client's connection is closed in the middle of the PATCH under way, once
//                       (N = 0: the server never sees the first PATCH)
//   --fail-once STATUS  the first PATCH is answered STATUS once its body has been read, unforwarded
//   --trickle R         PATCH bodies are forwarded at about R bytes a second
//
// A hostile server, for the client's defences:
//   --echo WHERE        the request's Authorization header is echoed back, where WHERE says:
//                       401-body, 503-body (the first POST answered so, once, with the header in
//                       its body as it came), 401-base64 (the whole header line in base64),
//                       401-reason (in the status line's text), location (the POST forwarded, the header appended to the Location
//                       of its answer, percent-encoded)
//   --offsets HOW       the offset a PATCH's answer reports misleads: swing (the proxy answers
//                       every PATCH itself, unforwarded: one at 0 is told the whole body arrived,
//                       one elsewhere that the offset went back to 0), creep (only the first byte
//                       of each PATCH body is forwarded, so the server's offset moves a byte a
//                       request), stride (the first 16385 bytes of each, just past 16 KiB)
//
// After every request it prints one line "METHOD PATH STATUS BODYBYTES", BODYBYTES being the bytes
// of the request body forwarded to the server. STATUS is "cut" for the cut PATCH and "aborted" when
// the client went away before the answer.
//
// A cut leaves the server's side of the PATCH open, as a connection whose far end vanished looks to
// a server, so that the server keeps exactly the N bytes: closed at once, the server would keep what
// it had written by then, anything from nothing to N (it drops what it had received but not yet
// written, and all of it when the close comes before its first write). The server ends that PATCH,
// keeping the N bytes, when the next request for the upload asks for its lock (server.js), and the
// proxy drops the connection once the server has answered it.
const http = require('node:http');
const serve = require('./serve');

const usage =
    'usage: node proxy.js --target PORT [--cut-after N] [--fail-once STATUS] [--trickle BYTES_PER_SEC]\n' +
    '                     [--echo 401-body|503-body|401-base64|401-reason|location]\n' +
    '                     [--offsets swing|creep|stride]\n';

const words = {
    echo: ['401-body', '503-body', '401-base64', '401-reason', 'location'],
    offsets: ['swing', 'creep', 'stride'],
};

function parseArguments(argv) {
    const options = { target: null, cutAfter: null, failOnce: null, trickle: null, echo: null, offsets: null };
    const names = {
        '--target': 'target',
        '--cut-after': 'cutAfter',
        '--fail-once': 'failOnce',
        '--trickle': 'trickle',
        '--echo': 'echo',
        '--offsets': 'offsets',
    };
    for (let i = 0; i < argv.length; i += 2) {
        const key = names[argv[i]];
        const value = key in words ? argv[i + 1] : Number(argv[i + 1]);
        const valid = key in words ? words[key].includes(value) : Number.isInteger(value) && value >= 0;
        if (key === undefined || !valid) {
            process.stderr.write(usage);
            process.exit(64);
        }
        options[key] = value;
    }
    const statusOk = options.failOnce === null || (options.failOnce >= 200 && options.failOnce <= 599);
    if (!options.target || !statusOk || options.trickle === 0) {
        process.stderr.write(usage);
        process.exit(64);
    }
    return options;
}

const hopByHop = new Set([
    'connection',
    'keep-alive',
    'proxy-connection',
    'transfer-encoding',
    'te',
    'trailer',
    'upgrade',
    // The proxy has already answered "100 Continue" itself.
    'expect',
]);

// The end-to-end headers of rawHeaders, in their own spelling; repeated ones stay repeated.
function endToEnd(rawHeaders) {
    const headers = {};
    for (let i = 0; i < rawHeaders.length; i += 2) {
        const [name, value] = [rawHeaders[i], rawHeaders[i + 1]];
        if (hopByHop.has(name.toLowerCase())) {
            continue;
        }
        headers[name] = name in headers ? [].concat(headers[name], value) : value;
    }
    return headers;
}

function answer(res, status, body) {
    res.writeHead(status, { 'Content-Type': 'text/plain', 'Content-Length': Buffer.byteLength(body) });
    res.end(body);
}

// The answer of a server that echoes the request's Authorization header where options.echo says.
function echoAuthorization(options, req, res) {
    const header = `Authorization: ${req.headers.authorization || ''}`;
    const status = options.echo === '503-body' ? 503 : 401;
    const bodies = {
        '401-body': `Unauthorized: the request said "${header}"\n`,
        '503-body': `Service Unavailable; you sent ${header}\n`,
        '401-base64': `{"error":"bad credentials","request":"${Buffer.from(header).toString('base64')}"}\n`,
        '401-reason': 'Refused\n',
    };
    req.resume();
    req.on('end', () => {
        const body = bodies[options.echo];
        const reason = options.echo === '401-reason' ? `Refused ${header}` : http.STATUS_CODES[status];
        res.writeHead(status, reason, { 'Content-Type': 'text/plain', 'Content-Length': Buffer.byteLength(body) });
        res.end(body);
        process.stdout.write(`${req.method} ${req.url} ${status} 0\n`);
    });
}

// A PATCH answered with a swinging offset, its body read and dropped: at 0 the whole body is said to
// have arrived, anywhere else the offset is said to be back at 0.
function swingOffset(req, res) {
    let length = 0;
    req.on('data', (chunk) => {
        length += chunk.length;
    });
    req.on('end', () => {
        const offset = Number(req.headers['upload-offset']) === 0 ? length : 0;
        res.writeHead(204, { 'Tus-Resumable': '1.0.0', 'Upload-Offset': String(offset) });
        res.end();
        process.stdout.write(`${req.method} ${req.url} 204 0\n`);
    });
}

// A PATCH of which only the first bytes (one, or a stride just past 16 KiB) go to the server, the
// rest read and dropped.
function creepOffset(options, req, res) {
    const kept = options.offsets === 'stride' ? 16385 : 1;
    const headers = endToEnd(req.rawHeaders);
    for (const name of Object.keys(headers)) {
        if (name.toLowerCase() === 'content-length') {
            delete headers[name];
        }
    }
    const parts = [];
    let held = 0;
    req.on('data', (chunk) => {
        if (held < kept) {
            parts.push(Buffer.from(chunk.subarray(0, kept - held)));
            held += parts[parts.length - 1].length;
        }
    });
    req.on('end', () => {
        const upstream = http.request({
            host: '127.0.0.1',
            port: options.target,
            method: req.method,
            path: req.url,
            headers,
            agent: false,
        });
        upstream.on('response', (reply) => {
            res.writeHead(reply.statusCode, reply.statusMessage, endToEnd(reply.rawHeaders));
            reply.pipe(res);
            res.on('finish', () => process.stdout.write(`${req.method} ${req.url} ${res.statusCode} ${held}\n`));
        });
        upstream.on('error', (error) => answer(res, 502, `Upstream failed: ${error.message}\n`));
        const body = held > 0 ? Buffer.concat(parts) : Buffer.alloc(1);
        upstream.setHeader('Content-Length', String(body.length));
        upstream.end(body);
    });
}

// Bytes of a request body the proxy holds at most, read but not yet forwarded: a slow server or the
// pace never makes it take in a whole body.
const readAhead = 1 << 20;

// Forwards one request; fault says which of the faults it gets ('fail', 'cut' or null).
// cutState counts the PATCH body bytes forwarded whole while a cut is pending.
function forwardRequest(options, fault, req, res, cutState) {
    let forwarded = 0;
    let logged = false;
    const log = (status) => {
        if (!logged) {
            logged = true;
            if (fault === 'cut') {
                if (status === 'cut') {
                    cutState.pending = false;
                } else {
                    cutState.total += forwarded;
                }
            }
            process.stdout.write(`${req.method} ${req.url} ${status} ${forwarded}\n`);
        }
    };

    if (fault === 'fail') {
        req.resume();
        req.on('end', () => {
            answer(res, options.failOnce, `${http.STATUS_CODES[options.failOnce] || 'Failed'}\n`);
            log(options.failOnce);
        });
        return;
    }
    const cutAt = fault === 'cut' ? options.cutAfter - cutState.total : null;
    if (cutAt === 0) {
        log('cut');
        req.socket.destroy();
        return;
    }

    const upstream = http.request({
        host: '127.0.0.1',
        port: options.target,
        method: req.method,
        path: req.url,
        headers: endToEnd(req.rawHeaders),
        agent: false,
    });
    let cutDone = false;
    upstream.on('response', (reply) => {
        const headers = endToEnd(reply.rawHeaders);
        if (fault === 'echo-location') {
            const name = Object.keys(headers).find((n) => n.toLowerCase() === 'location');
            if (name !== undefined) {
                headers[name] += `?auth=${encodeURIComponent(req.headers.authorization || '')}`;
            }
        }
        // A success before the client's whole body has come is the server ending a PATCH whose
        // client it took for gone (another request for the upload asked for its lock): so it is,
        // after a cut, or unnoticed (a paused connection shows no close) after it gave up.
        if (cutDone || (reply.statusCode < 300 && !req.complete)) {
            log(cutDone ? 'cut' : 'aborted');
            upstream.destroy();
            req.socket.destroy();
            return;
        }
        res.writeHead(reply.statusCode, reply.statusMessage, headers);
        reply.pipe(res);
        reply.on('close', () => {
            if (!reply.complete) {
                res.destroy();
            }
        });
    });
    // Once the answer has begun, its own end decides: a server that closes after answering early
    // (a 409 before the whole body) is no failure.
    upstream.on('error', (error) => {
        if (!logged && !res.headersSent) {
            answer(res, 502, `Upstream failed: ${error.message}\n`);
        }
    });
    res.on('finish', () => log(res.statusCode));
    res.on('close', () => {
        if (!res.writableFinished && !cutDone) {
            log('aborted');
            upstream.destroy();
        }
    });

    const cut = () => {
        log('cut');
        cutDone = true;
        req.socket.destroy();
    };
    // The body goes on in slices, each once the one before has been handed to the server's connection,
    // a trickled one when the pace allows.
    const rate = req.method === 'PATCH' ? options.trickle : null;
    const slice = rate === null ? readAhead : Math.max(1, Math.floor(rate / 20));
    const start = Date.now();
    const queue = [];
    let queued = 0;
    let ended = false;
    let busy = false;
    let pacing = false; // a trickled body waits for its pace: new data must not hurry it
    const pump = () => {
        if (busy || pacing || cutDone || upstream.destroyed) {
            return;
        }
        if (queue.length === 0) {
            if (ended && !upstream.writableEnded) {
                upstream.end();
            }
            return;
        }
        let part = queue[0].subarray(0, slice);
        if (cutAt !== null) {
            part = part.subarray(0, cutAt - forwarded);
        }
        queue[0] = queue[0].subarray(part.length);
        if (queue[0].length === 0) {
            queue.shift();
        }
        queued -= part.length;
        forwarded += part.length;
        if (queued < readAhead) {
            req.resume();
        }
        busy = true;
        upstream.write(part, () => {
            busy = false;
            if (cutAt !== null && forwarded >= cutAt) {
                cut();
                return;
            }
            const wait = rate === null ? 0 : start + (forwarded * 1000) / rate - Date.now();
            if (wait > 0) {
                pacing = true;
                setTimeout(() => {
                    pacing = false;
                    pump();
                }, wait);
            } else {
                pump();
            }
        });
    };
    req.on('data', (chunk) => {
        queue.push(chunk);
        queued += chunk.length;
        if (queued >= readAhead) {
            req.pause();
        }
        pump();
    });
    req.on('end', () => {
        ended = true;
        pump();
    });
}

function main() {
    const options = parseArguments(process.argv.slice(2));
    let failPending = options.failOnce !== null;
    let echoPending = options.echo !== null && options.echo !== 'location';
    const cutState = { pending: options.cutAfter !== null, total: 0 };
    const server = http.createServer((req, res) => {
        let fault = null;
        if (req.method === 'POST' && echoPending) {
            echoPending = false;
            echoAuthorization(options, req, res);
            return;
        }
        if (req.method === 'PATCH' && options.offsets === 'swing') {
            swingOffset(req, res);
            return;
        }
        if (req.method === 'PATCH' && (options.offsets === 'creep' || options.offsets === 'stride')) {
            creepOffset(options, req, res);
            return;
        }
        if (req.method === 'POST' && options.echo === 'location') {
            fault = 'echo-location';
        } else if (req.method === 'PATCH' && failPending) {
            [fault, failPending] = ['fail', false];
        } else if (req.method === 'PATCH' && cutState.pending) {
            fault = 'cut';
        }
        forwardRequest(options, fault, req, res, cutState);
    });
    serve(server, 'proxy.js');
}

main();
