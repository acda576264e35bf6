'use strict';
// Starts an HTTP server of the test scripts on 127.0.0.1 at a free port: prints "listening PORT"
// once it listens, ends on SIGTERM or SIGINT (closing every connection, so a trickled upload does not
// hold it), and on an error says so under the script's name and exits 1.
module.exports = function serve(server, name) {
    // A trickled upload may take longer than Node's default limit of five minutes a request.
    server.requestTimeout = 0;
    const stop = () => {
        server.close(() => process.exit(0));
        if (typeof server.closeAllConnections === 'function') {
            server.closeAllConnections();
        }
    };
    process.on('SIGTERM', stop);
    process.on('SIGINT', stop);
    process.stdout.on('error', () => {});
    server.on('error', (error) => {
        process.stderr.write(`${name}: ${error.message}\n`);
        process.exit(1);
    });
    server.listen(0, '127.0.0.1', () => {
        process.stdout.write(`listening ${server.address().port}\n`);
    });
};
