// The program's spine: start-up in a fixed order, the run (hidden or
// visible), the exit code and the teardown.
//
// --help, -h, /? and --version, -V are answered first: the usage text (in
// the interface language, naming the settings file) or "quorvel a.b.c" on
// standard output and exit code 0, with no settings read and no window.
//
// Start-up: the application identity; the settings loaded from the
// per-user store; the command line parsed into them; the message sink
// chosen (console for /hide). Message boxes are used only where a person
// sees them (MessageBoxesVisible); elsewhere their texts go to standard
// error. A rejected command line is reported once (in a box, then also on
// standard error) and the run ends with 1.
//
// A /hide run needs no display: it runs the batch over the command line's
// files with the console as the sink and ends with 0 (no files, or every
// file written) or 1 (the batch could not start, a file failed, or the run
// was interrupted). Settings are saved when a batch starts and when the run
// ends. When standard error is a terminal the run shows its progress and a
// summary line there (CTerminalProgress).
//
// A visible run shows the main window and starts the command line's files
// in it. Closing the window ends the run with 0; with /end the end of the
// batch ends it with 0 or 1 (1 also when the batch cannot start; 0 at once
// without files). Without a display it says so on standard error and ends
// with 1.
#pragma once

int RunApplication(int argc, char** argv);
