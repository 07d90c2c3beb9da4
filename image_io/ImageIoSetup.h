// Inside image_io only: process-wide settings of the codec libraries, made
// once before the first decode or encode.
//  - The decoders' own allocation limit (128 MB by default, which refuses an
//    ordinary 600 dpi page) is raised so that kMaxDecodedImageBytes decides,
//    with room for 64-bit intermediate formats.
//  - libtiff's default warning and error handlers, which print to the
//    standard error stream, are replaced by silent ones; failures still
//    travel as return values.
//  - A Qt message handler is put in front of the one installed before it:
//    it drops the decoders' diagnostics ("libpng error: ...", "Bogus DHT
//    index ...") issued on a thread inside a QuietDecoderMessages scope and
//    passes every other message on unchanged.
//  - Qt's image plugins are loaded: a plugin belongs to the thread that
//    loads it and is destroyed at exit, which must not be a worker thread
//    that ended before (its destruction then reads the ended thread's
//    freed data). Call it first from a thread that lives to the end of the
//    process (PrepareImageCodecs in ImageFile.h).
#pragma once

void EnsureImageIoSetUp();

// While an object lives, Qt messages of this thread are dropped (fatal ones
// excepted). Nests. A decoder that runs out of memory says so only in such
// a message ("QImage: out of memory ...", "... exceeds the current
// allocation limit ..."); it is noted, for OutOfMemorySaid.
class QuietDecoderMessages {
  public:
    QuietDecoderMessages();
    ~QuietDecoderMessages();
    QuietDecoderMessages(const QuietDecoderMessages&) = delete;
    QuietDecoderMessages& operator=(const QuietDecoderMessages&) = delete;

    // Whether a dropped message of this thread said that memory ran out
    // since the last call; clears the note.
    static bool OutOfMemorySaid();
};
