// The page's script: keeps the list of sources, starts a run in a worker,
// shows what the program printed and offers the image it wrote.  The
// program itself, and all it decides, is in romweave.js.
'use strict';

(function() {
  var sourcesInput = document.getElementById('sources');
  var dropZone = document.getElementById('drop');
  var notice = document.getElementById('notice');
  var list = document.getElementById('list');
  var assemble = document.getElementById('assemble');
  var receiver = document.getElementById('receiver');
  var again = document.getElementById('again');
  var rerun = document.getElementById('rerun');
  var running = document.getElementById('running');
  var progress = document.getElementById('progress');
  var result = document.getElementById('result');
  var outcome = document.getElementById('outcome');
  var summary = document.getElementById('summary');
  var messages = document.getElementById('messages');
  var save = document.getElementById('save');
  var imageName = document.getElementById('image-name');
  var download = document.getElementById('download');

  // The worker's script, from the text of the function romweave.js defines.
  var workerUrl = URL.createObjectURL(new Blob(
      ['(', romweaveWorker.toString(), ')();\n'], {type: 'text/javascript'}));

  // Each run has a worker of its own, as each run of the tool is a process
  // of its own.  The next one is started ahead, so that compiling the
  // program is not part of the wait after a click.
  var nextWorker = new Worker(workerUrl);

  // Where the program writes the image.  No chosen file's name holds a '/',
  // so no source can be taken for it; the name is never shown.
  var DESTINATION = '/image/rom.bin';

  var sources = [];  // File objects, in the order they are joined
  var busy = false;
  var imageUrl = null;

  // Orders names much as `ls -v` does: runs of digits by their value, the
  // rest character by character, so that part2 comes before part10.
  function naturalCompare(a, b) {
    var partsA = a.match(/\d+|\D+/g) || [];
    var partsB = b.match(/\d+|\D+/g) || [];
    for (var i = 0; i < partsA.length && i < partsB.length; i++) {
      var x = partsA[i];
      var y = partsB[i];
      if (/^\d/.test(x) && /^\d/.test(y)) {
        var valueX = x.replace(/^0+/, '');
        var valueY = y.replace(/^0+/, '');
        if (valueX.length !== valueY.length) {
          return valueX.length - valueY.length;
        }
        if (valueX !== valueY) return valueX < valueY ? -1 : 1;
      } else if (x !== y) {
        return x < y ? -1 : 1;
      }
    }
    if (partsA.length !== partsB.length) return partsA.length - partsB.length;
    return a < b ? -1 : a > b ? 1 : 0;
  }

  function formatBytes(count) {
    return count.toLocaleString('en') + (count === 1 ? ' byte' : ' bytes');
  }

  // Each new file goes before the first listed one whose name comes after
  // its own, so that a list not reordered by hand stays in natural order.
  // A second file of a name already listed is left out: the program would
  // join it as a second copy, and a file picked twice is nearly always a
  // mistake.
  function addFiles(files) {
    var skipped = [];
    Array.prototype.slice.call(files)
        .sort(function(a, b) { return naturalCompare(a.name, b.name); })
        .forEach(function(file) {
          if (sources.some(function(s) { return s.name === file.name; })) {
            skipped.push(file.name);
            return;
          }
          var at = 0;
          while (at < sources.length &&
                 naturalCompare(sources[at].name, file.name) <= 0) {
            at++;
          }
          sources.splice(at, 0, file);
        });
    notice.textContent = skipped.length === 0 ? '' :
        'Already listed, so not added again: ' + skipped.join(', ') +
        '. Remove the one listed first to use another file of that name.';
    changed();
  }

  // Moves a source up or down; the focus stays on the same button of the
  // moved source, or on one it can still use when that one is at an end.
  function move(index, by, buttonClass) {
    var moved = sources.splice(index, 1)[0];
    sources.splice(index + by, 0, moved);
    changed();
    var item = list.children[index + by];
    var button = item.querySelector('.' + buttonClass);
    (button.disabled ? item.querySelector('button:enabled') : button).focus();
  }

  function remove(index) {
    sources.splice(index, 1);
    changed();
    var next = list.children[Math.min(index, sources.length - 1)];
    (next ? next.querySelector('.remove') : sourcesInput).focus();
  }

  function button(text, label, className, disabled, action) {
    var element = document.createElement('button');
    element.type = 'button';
    element.textContent = text;
    element.className = className;
    element.setAttribute('aria-label', label);
    element.disabled = disabled;
    element.addEventListener('click', action);
    return element;
  }

  // The list changed: shown anew, and the outcome of an earlier list hidden.
  function changed() {
    list.textContent = '';
    sources.forEach(function(file, index) {
      var item = document.createElement('li');
      var name = document.createElement('span');
      name.className = 'name';
      name.textContent = file.name;
      var size = document.createElement('span');
      size.className = 'size';
      size.textContent = formatBytes(file.size);
      item.append(name, ' ', size, ' ',
          button('Up', 'Move ' + file.name + ' up', 'up', index === 0,
                 function() { move(index, -1, 'up'); }),
          button('Down', 'Move ' + file.name + ' down', 'down',
                 index === sources.length - 1,
                 function() { move(index, 1, 'down'); }),
          button('Remove', 'Remove ' + file.name, 'remove', false,
                 function() { remove(index); }));
      list.append(item);
    });
    assemble.disabled = busy || sources.length === 0;
    if (!busy) result.hidden = true;
  }

  sourcesInput.addEventListener('change', function() {
    addFiles(sourcesInput.files);
    // The same file can then be chosen again after being removed.
    sourcesInput.value = '';
  });
  // Files dropped anywhere on the page are taken: a browser would otherwise
  // open a file dropped beside the zone in the page's place.
  document.addEventListener('dragover', function(event) {
    event.preventDefault();
    dropZone.classList.add('over');
  });
  document.addEventListener('dragleave', function(event) {
    if (!event.relatedTarget) dropZone.classList.remove('over');
  });
  document.addEventListener('drop', function(event) {
    event.preventDefault();
    dropZone.classList.remove('over');
    if (event.dataTransfer.files.length > 0) addFiles(event.dataTransfer.files);
  });

  function decode(bytes) {
    return new TextDecoder().decode(bytes);
  }

  // A progress line; no other line can match, since names are printed in
  // capitals.
  var PROGRESS_LINE = /^Checking Address ([0-9A-F]+)\.\.\.\n/gm;

  // What a receiver's reading says it did, source by source, from its
  // notes: "NAME: what it skipped".
  var NOTE = /^Note: (.*), read as an XMODEM receiver: (.*)\.$/gm;
  function readingNotes(stderr) {
    var notes = [];
    for (var match; (match = NOTE.exec(stderr)) !== null;) {
      notes.push(match[1] + ': ' + match[2]);
    }
    return notes.length === 0 ? '' :
        ' Read as an XMODEM receiver would, ' + notes.join('; ') + '.';
  }

  // The outcome in words, from the exit status, where the run ended and the
  // address of the last block it tried.
  function describe(run, names, stdout) {
    var where = names[run.stoppedAt] || 'a source';
    var last = stdout.lastIndexOf('Checking Address ');
    PROGRESS_LINE.lastIndex = Math.max(last, 0);
    var match = last >= 0 ? PROGRESS_LINE.exec(stdout) : null;
    var address = match ? match[1] : null;
    switch (run.status) {
      case 0:
        return 'Clean: ' + names.length +
            (names.length === 1 ? ' source' : ' sources') +
            ' checked and joined into an image of ' +
            formatBytes(run.image.size) + '.';
      case 1:
        return 'Not read: ' + where + ' could not be read' +
            (run.unloaded.indexOf(run.stoppedAt) >= 0 ?
                 ' by the browser (a folder, or a file moved or changed' +
                 ' since it was chosen)' : '') +
            ', so the run stopped there.';
      case 2:
        return 'Not written: the image could not be written.';
      case 3:
        return 'Fault in ' + where +
            (address !== null ? ' at address ' + address : '') +
            ': the run stopped at the faulty block.';
      case 4:
        return 'No sources: choose at least one capture.';
      default:
        return 'The run ended with exit status ' + run.status + '.';
    }
  }

  function finish(run, names) {
    busy = false;
    running.hidden = true;
    var stdout = decode(run.stdout);
    var stderr = decode(run.stderr);
    outcome.textContent = describe(run, names, stdout) + readingNotes(stderr);
    outcome.dataset.status = String(run.status);
    // Offered when a hint named the receiver's reading, as the program tells
    // the worker: the hint's words are for people, and may change.
    again.hidden = run.receiver || !run.receiverOffered;
    // The lines that say something, shown plainly; the progress lines only
    // in the folded list of all messages.  Each stream is a text of its own
    // there: joined, the progress lines of a large run would be copied again.
    summary.textContent = (stdout.replace(PROGRESS_LINE, '') + stderr).trimEnd();
    messages.textContent = stdout;
    messages.append(stderr);

    if (imageUrl) URL.revokeObjectURL(imageUrl);
    imageUrl = null;
    save.hidden = run.image === null;
    if (run.image !== null) {
      imageUrl = URL.createObjectURL(run.image);
      download.href = imageUrl;
      download.textContent = (run.status === 0 ? 'Download the image' :
                              'Download the partial image, as far as the run got') +
          ' (' + formatBytes(run.image.size) + ')';
      download.classList.toggle('partial', run.status !== 0);
    }
    result.hidden = false;
    assemble.disabled = sources.length === 0;
    outcome.scrollIntoView({block: 'nearest'});
  }

  function fail(message) {
    busy = false;
    running.hidden = true;
    outcome.textContent = 'The page could not run the program: ' + message;
    outcome.dataset.status = 'failed';
    again.hidden = true;
    summary.textContent = '';
    messages.textContent = '';
    save.hidden = true;
    result.hidden = false;
    assemble.disabled = sources.length === 0;
  }

  // The arguments of a name: as they are, but for a first name that the
  // program would take for its option, which goes as a path of its own.
  function argumentOf(name, first) {
    return first && !receiver.checked && (name === '-r' || name === '--receiver') ?
        './' + name : name;
  }

  function start() {
    if (busy || sources.length === 0) return;
    busy = true;
    assemble.disabled = true;
    result.hidden = true;
    delete outcome.dataset.status;
    progress.value = 0;
    running.hidden = false;
    var names = sources.map(function(file) { return file.name; });
    var worker = nextWorker;
    var reading = receiver.checked;
    worker.onmessage = function(event) {
      var message = event.data;
      if (message.kind === 'progress') {
        progress.value = message.total > 0 ? message.done / message.total : 1;
        return;
      }
      worker.terminate();
      nextWorker = new Worker(workerUrl);
      if (message.kind === 'done') {
        message.receiver = reading;
        finish(message, names);
      } else {
        fail(message.message);
      }
    };
    worker.onerror = function(event) {
      worker.terminate();
      nextWorker = new Worker(workerUrl);
      fail(event.message || 'the worker stopped');
    };
    // The program's arguments, as on a command line: the option, with a
    // "--" so that no name is taken for another, the names as they are
    // (the program raises them in its messages itself), then the image.
    var given = sources.map(function(file, index) {
      return {name: argumentOf(file.name, index === 0), file: file};
    });
    worker.postMessage({
      args: (reading ? ['--receiver', '--'] : [])
                .concat(given.map(function(source) { return source.name; }),
                        [DESTINATION]),
      destination: DESTINATION,
      sources: given,
    });
  }

  assemble.addEventListener('click', start);
  rerun.addEventListener('click', function() {
    receiver.checked = true;
    start();
  });

  imageName.addEventListener('input', function() {
    download.download = imageName.value.trim() || 'rom.bin';
  });
})();
