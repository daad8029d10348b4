// The worker's side of the page, run after the module above has defined
// createRomweave.  One worker makes one run, as one process would: the page
// posts the sources, in order, as {name, file}; the worker writes them into
// the module's file system under their names, calls main() with those names
// and a destination, and posts back the exit status, standard output and
// standard error byte for byte, and the image as the program left it.
//
// Messages to the page:
//   {kind: 'progress', done, total}  bytes of all sources read so far
//   {kind: 'done', status, stdout, stderr, image, stoppedAt, unloaded}
//       image: the destination's bytes, or null when there is none;
//       stoppedAt: index of the source the run ended in;
//       unloaded: indices of the sources the browser could not read
//   {kind: 'failed', message}  the module itself failed

// Where the sources sit (the working folder, so that their names are given
// as they are and printed as the tool prints them) and the destination,
// outside it, so that no source name can be the destination's.
var SOURCE_FOLDER = '/sources';
var DESTINATION = '/image/rom.bin';

// Bytes written to a standard stream, kept as they come.
function ByteSink() {
  this.bytes = new Uint8Array(64 * 1024);
  this.size = 0;
}
ByteSink.prototype.append = function(bytes) {
  if (this.size + bytes.length > this.bytes.length) {
    var larger = new Uint8Array(Math.max(this.bytes.length * 2, this.size + bytes.length));
    larger.set(this.bytes.subarray(0, this.size));
    this.bytes = larger;
  }
  this.bytes.set(bytes, this.size);
  this.size += bytes.length;
};
// The bytes kept, without a copy: the sink is not used again.
ByteSink.prototype.take = function() {
  return this.bytes.subarray(0, this.size);
};

var standardOutput = new ByteSink();
var standardError = new ByteSink();

// Compiled while the page's files are read.  Standard input is empty;
// standard output and standard error are devices, not terminals, as a file
// or a pipe would be.  Each device hands a write over a byte at a time,
// which is slow for a large run's progress lines, so run() takes each write
// whole instead.
var moduleReady = createRomweave({
  noInitialRun: true,
  thisProgram: 'romweave',
  stdin: function() { return null; },
  stdout: function(byte) { standardOutput.append([byte]); },
  stderr: function(byte) { standardError.append([byte]); },
});

// Makes the writes to standard stream `fd` go to `sink` whole.
function takeWrites(FS, fd, sink) {
  FS.getStream(fd).stream_ops.write = function(stream, buffer, offset, length) {
    // The bytes as they are, also where `buffer` holds them as signed numbers.
    sink.append(new Uint8Array(buffer.buffer, buffer.byteOffset + offset, length));
    return length;
  };
}

// The browser's copy of each source, or null where it could not be read: a
// folder, or a file moved or changed since it was chosen.  Such a source is
// left out of the file system, and the program reports that it cannot open
// it, as it would for a missing file.
function readSources(sources) {
  return Promise.all(sources.map(function(source) {
    return source.file.arrayBuffer().then(
        function(buffer) { return new Uint8Array(buffer); },
        function() { return null; });
  }));
}

function run(sources, contents, module) {
  var FS = module.FS;
  FS.mkdir(SOURCE_FOLDER);
  FS.mkdir(DESTINATION.slice(0, DESTINATION.lastIndexOf('/')));
  FS.chdir(SOURCE_FOLDER);
  takeWrites(FS, 1, standardOutput);
  takeWrites(FS, 2, standardError);

  var total = 0;
  contents.forEach(function(bytes) { total += bytes ? bytes.length : 0; });
  var done = 0;
  var reported = 0;
  var lastRead = -1;
  contents.forEach(function(bytes, index) {
    if (!bytes) return;
    var name = sources[index].name;
    var stream = FS.open(name, 'w');
    // The file system keeps the browser's copy itself instead of a second.
    FS.write(stream, bytes, 0, bytes.length, 0, true);
    FS.close(stream);
    // Every read of the source passes here on its way to the program, which
    // gives the progress over the bytes of all sources, and which source
    // the run ended in.
    var node = FS.lookupPath(name).node;
    var operations = node.stream_ops;
    node.stream_ops = Object.assign({}, operations, {
      read: function(stream, buffer, offset, length, position) {
        var got = operations.read(stream, buffer, offset, length, position);
        lastRead = index;
        done += got;
        if (done - reported >= total / 100 || done === total) {
          reported = done;
          postMessage({kind: 'progress', done: done, total: total});
        }
        return got;
      },
    });
  });

  // The file system grows a file by an eighth at a time past a megabyte,
  // copying it each time, which would make most of a large run's time.  No
  // image is larger than its sources, so the destination, the only file
  // written during the run, is given room for that much at once.
  var MEMFS = FS.filesystems.MEMFS;
  var expandFileStorage = MEMFS.expandFileStorage;
  MEMFS.expandFileStorage = function(node, capacity) {
    expandFileStorage.call(MEMFS, node, Math.max(capacity, total));
  };

  var status = module.callMain(
      sources.map(function(source) { return source.name; })
          .concat([DESTINATION]));

  // The image as the file system holds it, without a copy; none when the
  // run was refused before the destination was created.
  var image = null;
  var found = FS.analyzePath(DESTINATION);
  if (found.exists) {
    var file = found.object;
    image = file.contents ? file.contents.subarray(0, file.usedBytes)
                          : new Uint8Array(0);
  }
  var unloaded = [];
  contents.forEach(function(bytes, index) {
    if (!bytes) unloaded.push(index);
  });
  // A source that could not be opened was never read: the run ended at the
  // one after the last source read.
  var stoppedAt = lastRead;
  if (status === 1 && unloaded.indexOf(lastRead + 1) >= 0) {
    stoppedAt = lastRead + 1;
  }
  var result = {
    kind: 'done',
    status: status,
    stdout: standardOutput.take(),
    stderr: standardError.take(),
    image: image,
    stoppedAt: stoppedAt,
    unloaded: unloaded,
  };
  var transfer = [result.stdout.buffer, result.stderr.buffer];
  if (image) transfer.push(image.buffer);
  postMessage(result, transfer);
}

self.onmessage = function(event) {
  var sources = event.data.sources;
  readSources(sources)
      .then(function(contents) {
        return moduleReady.then(function(module) {
          run(sources, contents, module);
        });
      })
      .catch(function(error) {
        postMessage({kind: 'failed', message: String(error)});
      });
};
}  // romweaveWorker, begun in worker_begin.js
