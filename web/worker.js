// The worker's side of the page, run after the module above has defined
// createRomweave.  One worker makes one run, as one process would: the page
// posts the arguments of main(), the sources, in order, as {name, file},
// and the name the program is to write the image to.  The program has no
// file system: it opens, reads and writes the page's files through the
// calls of a Run below, its romweaveIO (platform/platform_web.cc is their
// other end), and the worker posts back the exit status, standard output
// and standard error byte for byte, and the image as the program left it.
//
// Messages to the page:
//   {kind: 'progress', done, total}  bytes of all sources read so far
//   {kind: 'done', status, stdout, stderr, image, stoppedAt, unloaded,
//    receiverOffered}
//       stdout, stderr: the bytes written, as a Uint8Array;
//       image: the destination, a Blob, or null when it was not created;
//       stoppedAt: index of the source the run ended in, -1 for none;
//       unloaded: indices of the sources the browser could not read;
//       receiverOffered: a hint named the receiver's reading (--receiver)
//   {kind: 'failed', message}  the module itself failed

// Bytes written to a standard stream, kept as they come in one buffer that
// grows when it must.
function ByteSink(capacity) {
  this.bytes = new Uint8Array(capacity);
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

// The image, handed over as it is written: a piece at a time, each piece
// a Blob, whose bytes the browser keeps outside the page; the image is
// those Blobs joined, which copies nothing.  The page only offers the
// image for download, so it never needs the bytes themselves, and holding
// them as well would hold them twice.  Each Blob costs about a millisecond
// however small, so the program's writes are gathered into pieces of
// 1 MiB: on a 4 MiB image, pieces of 256 KiB took 10 ms longer.
var IMAGE_PIECE_SIZE = 1024 * 1024;
function ImageSink() {
  this.parts = [];
  this.piece = new Uint8Array(IMAGE_PIECE_SIZE);
  this.used = 0;
}
ImageSink.prototype.append = function(bytes) {
  for (var at = 0; at < bytes.length;) {
    var count = Math.min(bytes.length - at, this.piece.length - this.used);
    this.piece.set(bytes.subarray(at, at + count), this.used);
    this.used += count;
    at += count;
    // The Blob takes a copy, and the piece is filled anew.
    if (this.used === this.piece.length) {
      this.parts.push(new Blob([this.piece]));
      this.used = 0;
    }
  }
};
ImageSink.prototype.take = function() {
  this.parts.push(new Blob([this.piece.subarray(0, this.used)]));
  return new Blob(this.parts, {type: 'application/octet-stream'});
};

// A source is read a piece at a time, as the program asks for its bytes:
// only the piece being read is kept, and nothing is read after the run
// has stopped.  Each read of the browser's costs a millisecond or more
// however small, and smaller reads are slower for each byte too: a 4 MiB
// source read in pieces of 1 MiB took 10 ms longer than read whole (and
// the page's renderer then peaked at 3.2 instead of 3.7 times the source).
var PIECE_SIZE = 4 * 1024 * 1024;
var reader = new FileReaderSync();

// One run of the program, as a message of the page's asks for it: what it
// reads, the files it holds open and what it wrote.  Each run has one of
// its own, the warm-up's too, so that nothing one run leaves can reach
// the next.  `quiet`: no progress is posted.
function Run(message, quiet) {
  this.sources = message.sources;  // {name, file}, in the order given
  this.destination = message.destination;  // the one name it may create
  this.quiet = quiet;
  this.total = 0;  // bytes of all sources
  for (var i = 0; i < this.sources.length; i++) {
    this.total += this.sources[i].file.size;
  }
  this.done = 0;       // of them read so far
  this.reported = -1;  // `done` as last posted
  // Standard output has room for a quarter of the sources' bytes and some:
  // the program prints a line of 26 bytes for each block of 132 it reads,
  // so the room is not outgrown and the bytes are not copied again.  Room
  // never written to costs no memory.
  this.standardOutput = new ByteSink(64 * 1024 + Math.ceil(this.total / 4));
  this.standardError = new ByteSink(1024);
  this.image = null;  // an ImageSink, once the destination is created
  this.stoppedAt = -1;
  this.unloaded = [];
  this.receiverOffered = false;
  // What the program's handles lead to: 1 and 2, the standard streams,
  // then each file opened, as {source, position, piece, used} or {sink}.
  // Closing one takes it out; a handle not here is no file.
  this.handles = {1: {sink: this.standardOutput}, 2: {sink: this.standardError}};
  this.nextHandle = 3;
}

// A source's index for its name, the first source of that name; -1 for none.
Run.prototype.sourceIndex = function(name) {
  for (var i = 0; i < this.sources.length; i++) {
    if (this.sources[i].name === name) return i;
  }
  return -1;
};

// Reads the next piece of an open source: false when the browser could
// not.  A file smaller than a piece is read whole, not sliced, so that a
// folder or a file gone is found out even when it looks empty.
Run.prototype.readPiece = function(open) {
  var file = this.sources[open.source].file;
  var part = open.position === 0 && file.size <= PIECE_SIZE ? file :
      file.slice(open.position, open.position + PIECE_SIZE);
  try {
    open.piece = new Uint8Array(reader.readAsArrayBuffer(part));
  } catch (error) {
    if (this.unloaded.indexOf(open.source) < 0) this.unloaded.push(open.source);
    return false;
  }
  open.used = 0;
  return true;
};

// Posts the progress after a read: at each hundredth of the sources' bytes
// and at their end, also when they are all empty.
Run.prototype.reportProgress = function() {
  if (this.done === this.reported || this.quiet) return;
  if (this.done - this.reported >= this.total / 100 || this.done === this.total) {
    this.reported = this.done;
    postMessage({kind: 'progress', done: this.done, total: this.total});
  }
};

// The calls platform_web.cc makes, on the run that is the program's
// romweaveIO.  Names are the page's strings; byte arrays are views of the
// program's memory, good only during the call.  Identities: a source's
// index + 1; the image's, sources.length + 1.

// A source for reading: its handle, or -1 when there is none of that name
// or the browser cannot read it (a folder, or a file moved or changed
// since it was chosen).  Its first piece is read to find that out.
Run.prototype.open = function(name) {
  var index = this.sourceIndex(name);
  if (index < 0) return -1;
  this.stoppedAt = index;
  var open = {source: index, position: 0, piece: null, used: 0};
  if (!this.readPiece(open)) return -1;
  this.handles[this.nextHandle] = open;
  return this.nextHandle++;
};

// The destination, created empty; -1 for any other name.
Run.prototype.create = function(name) {
  if (name !== this.destination) return -1;
  this.image = new ImageSink();
  this.handles[this.nextHandle] = {sink: this.image};
  return this.nextHandle++;
};

// Up to into.length bytes into `into`: their number, 0 at the end, -1
// when the browser could not read them.
Run.prototype.read = function(handle, into) {
  var open = this.handles[handle];
  if (!open || open.source === undefined) return -1;
  if (open.used === open.piece.length &&
      open.position < this.sources[open.source].file.size && !this.readPiece(open)) {
    return -1;
  }
  var count = Math.min(into.length, open.piece.length - open.used);
  into.set(open.piece.subarray(open.used, open.used + count));
  open.used += count;
  open.position += count;
  this.done += count;
  this.reportProgress();
  return count;
};

// All of `bytes`, kept: 1, or 0 when the handle leads to nothing written.
Run.prototype.write = function(handle, bytes) {
  var open = this.handles[handle];
  if (!open || !open.sink) return 0;
  open.sink.append(bytes);
  return 1;
};

Run.prototype.close = function(handle) {
  if (!this.handles[handle]) return 0;
  delete this.handles[handle];
  return 1;
};

Run.prototype.identifyName = function(name) {
  if (name === this.destination) return this.image ? this.sources.length + 1 : 0;
  return this.sourceIndex(name) + 1;
};

Run.prototype.identifyFile = function(handle) {
  var open = this.handles[handle];
  if (!open) return 0;
  if (open.source !== undefined) return open.source + 1;
  return open.sink === this.image ? this.sources.length + 1 : 0;
};

// A hint has named the receiver's reading: the page offers a second run
// that way.
Run.prototype.offerReceiver = function() {
  this.receiverOffered = true;
};

// What the page is told of the run, once main() has returned `status`.
Run.prototype.outcome = function(status) {
  return {
    kind: 'done',
    status: status,
    stdout: this.standardOutput.take(),
    stderr: this.standardError.take(),
    image: this.image ? this.image.take() : null,
    stoppedAt: this.stoppedAt,
    unloaded: this.unloaded,
    receiverOffered: this.receiverOffered,
  };
};

// Runs the program as the message asks, on a run of its own, and gives
// what the page is told.  The program is compiled before the page says
// what to run, so it is handed the run's calls only now.
function execute(message, program, quiet) {
  var run = new Run(message, quiet);
  program.romweaveIO = run;
  return run.outcome(program.callMain(message.args));
}

// A promise of a fresh instance of the program.  Compiled at once (see
// web/CMakeLists.txt), Emscripten's factory returns the instance itself,
// or, in later versions, a promise of it; a failure rejects the promise.
function createProgram() {
  return new Promise(function(resolve) {
    resolve(createRomweave({noInitialRun: true, thisProgram: 'romweave'}));
  });
}

// The browser compiles the program's busiest code a second time, to run
// faster, once it has run for a while: once for the page, for all its
// workers, but on the first run it costs that run time, and its renderer
// memory the size of a capture or more.  So a program of the worker's
// own first reads half a megabyte of sound blocks made here, and is
// dropped, while the page's files are chosen.
function warmUp() {
  var BLOCKS = 4096;
  var capture = new Uint8Array(BLOCKS * 132);
  for (var block = 0; block < BLOCKS; block++) {
    var at = block * 132;
    var number = (block + 1) & 0xFF;
    var sum = 0;
    capture[at] = 0x01;
    capture[at + 1] = number;
    capture[at + 2] = 0xFF - number;
    for (var i = 0; i < 128; i++) {
      var byte = (block * 131 + i * 7) & 0xFF;
      capture[at + 3 + i] = byte;
      sum += byte;
    }
    capture[at + 131] = sum & 0xFF;
  }
  var name = '/image/warm-up.bin';
  return createProgram().then(function(program) {
    execute({args: ['warm-up.cap', name], destination: name,
             sources: [{name: 'warm-up.cap', file: new Blob([capture])}]},
            program, true);
  });
}

// Compiled, and warmed up, while the page's files are chosen.
var moduleReady = warmUp().then(createProgram, createProgram);

function run(message, module) {
  var result = execute(message, module, false);
  postMessage(result, [result.stdout.buffer, result.stderr.buffer]);
}

self.onmessage = function(event) {
  moduleReady
      .then(function(module) { run(event.data, module); })
      .catch(function(error) {
        postMessage({kind: 'failed', message: String(error)});
      });
};
}  // romweaveWorker, begun in worker_begin.js
