'use strict';
// The tus server the upload tests and the benchmark run against: @tus/server with a FileStore, on
// 127.0.0.1 at a free port, uploads under /files.
//
//   NODE_PATH=DEST/node_modules node server.js --dir DIR [--token TOKEN | --token-file FILE]
//
// (DEST is where scripts/install-tus-server.sh installed the packages.) Once listening it prints one
// line, "listening PORT", on stdout. With a token every request whose Authorization header is not
// "Bearer TOKEN" is answered 401 before the tus handling sees it. --token-file (its content, less a
// final newline) keeps the token out of the process list, where a test may look for it. Besides tus
// it takes "PUT /put/NAME" and writes the body to DIR/put-NAME, answering 201: the plain upload the
// benchmark compares with. SIGTERM or SIGINT close the server and end the process with status 0.
//
// What the client meets here (@tus/server 1.10, @tus/file-store 1.5):
// - Location after a creation POST is absolute, built from the request's Host header:
//   "http://HOST/files/ID", where ID is 32 hex digits. Through the proxy it names the proxy.
// - Every request but OPTIONS (and GET) needs "Tus-Resumable: 1.0.0", else 412. A PATCH needs
//   "Content-Type: application/offset+octet-stream" (another type: 400, none: 403) and
//   Upload-Offset (403 without); at an offset other than the stored one it is 409.
// - The FileStore keeps the upload as DIR/ID, its length and metadata in DIR/ID.json; the offset is
//   the size of DIR/ID. Of a PATCH whose connection closes early it keeps what it had written by
//   then, but drops what it had received and not yet written (all of it when the close comes
//   before its first write); of a PATCH whose client vanished unnoticed it keeps all it received,
//   once another request for the upload has ended that PATCH (see lockDrainTimeout below).
// - HEAD of an unknown ID: 404 with no body. DELETE: 204, and the upload is gone (404 afterwards).
const fs = require('node:fs');
const http = require('node:http');
const serve = require('./serve');
const path = require('node:path');
const { pipeline } = require('node:stream');

function loadPackages() {
    try {
        return { Server: require('@tus/server').Server, FileStore: require('@tus/file-store').FileStore };
    } catch (error) {
        process.stderr.write(
            `server.js: the tus packages are missing (${error.message}); install them with ` +
                'scripts/install-tus-server.sh DEST and run with NODE_PATH=DEST/node_modules\n',
        );
        process.exit(1);
    }
}

const usage = 'usage: node server.js --dir DIR [--token TOKEN | --token-file FILE]\n';

function parseArguments(argv) {
    const options = { dir: null, token: null };
    for (let i = 0; i < argv.length; i += 2) {
        const [name, value] = [argv[i], argv[i + 1]];
        if (value === undefined) {
            process.stderr.write(usage);
            process.exit(64);
        } else if (name === '--dir') {
            options.dir = value;
        } else if (name === '--token') {
            options.token = value;
        } else if (name === '--token-file') {
            try {
                options.token = fs.readFileSync(value, 'utf8').replace(/\n$/, '');
            } catch (error) {
                process.stderr.write(`server.js: cannot read the token: ${error.message}\n`);
                process.exit(1);
            }
        } else {
            process.stderr.write(usage);
            process.exit(64);
        }
    }
    if (!options.dir) {
        process.stderr.write(usage);
        process.exit(64);
    }
    return options;
}

function answer(res, status, body, headers = {}) {
    const length = Buffer.byteLength(body);
    res.writeHead(status, { 'Content-Type': 'text/plain', 'Content-Length': length, ...headers });
    res.end(body);
}

// PUT /put/NAME: the body goes to DIR/put-NAME. NAME is one plain file name.
function storePut(dir, name, req, res) {
    if (!/^[A-Za-z0-9_][A-Za-z0-9._-]*$/.test(name)) {
        answer(res, 400, 'Bad file name\n');
        return;
    }
    pipeline(req, fs.createWriteStream(path.join(dir, `put-${name}`)), (error) => {
        if (error) {
            if (!res.headersSent && !req.destroyed) {
                answer(res, 500, `${error.message}\n`);
            }
            return;
        }
        answer(res, 201, '');
    });
}

function main() {
    const options = parseArguments(process.argv.slice(2));
    const { Server, FileStore } = loadPackages();
    try {
        fs.mkdirSync(options.dir, { recursive: true });
    } catch (error) {
        process.stderr.write(`server.js: cannot make ${options.dir}: ${error.message}\n`);
        process.exit(1);
    }
    // A request for an upload whose PATCH is still open (its client gone unnoticed, as after the
    // proxy's cut) ends that PATCH, keeping what it received, after lockDrainTimeout; it waits that
    // long (spinning), so it is a second here rather than the default three.
    const tus = new Server({
        path: '/files',
        datastore: new FileStore({ directory: options.dir }),
        lockDrainTimeout: 1000,
    });
    const expected = options.token === null ? null : `Bearer ${options.token}`;

    const server = http.createServer((req, res) => {
        // A refused request's body is not read: Node discards it after the answer.
        if (expected !== null && req.headers.authorization !== expected) {
            answer(res, 401, 'Unauthorized\n', { 'WWW-Authenticate': 'Bearer' });
            return;
        }
        const urlPath = req.url.split('?')[0];
        if (req.method === 'PUT' && urlPath.startsWith('/put/')) {
            storePut(options.dir, urlPath.slice('/put/'.length), req, res);
        } else if (urlPath === '/files' || urlPath.startsWith('/files/')) {
            tus.handle(req, res);
        } else {
            answer(res, 404, 'Not found\n');
        }
    });
    serve(server, 'server.js');
}

main();
