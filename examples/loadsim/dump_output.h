// loadsim's two outputs: standard output carries the load dump and nothing
// else, standard error everything a person should read.
#pragma once


// Sends the zip layer's ::OPEN:: records to standard output and every other
// library message (warnings, errors, timings, a fatal stop's text and the
// streams it closes) to standard error, each whole.
void RouteOutput();

// Flushes and closes standard output; false, after saying so on standard
// error, when any byte of the dump was lost. Nothing may be written to
// standard output after it.
bool FinishDump();
