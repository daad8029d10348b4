// romweave.js: the program as WebAssembly and the worker's side of the page,
// all inside one function.  The page loads this file with a script tag,
// which only defines the function, and starts its worker from the
// function's text: a page opened from a folder may neither fetch a file nor
// start a worker from one.  The function ends in worker.js.
function romweaveWorker() {
