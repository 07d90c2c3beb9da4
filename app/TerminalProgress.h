// qv::CTerminalProgress: the progress line of a /hide run whose standard
// error is a terminal, and the message sink that keeps messages clear of it.
//
// While a batch runs, one line is redrawn in place at each progress report:
// '\r', the text, then blanks over whatever the previous text covered
// beyond it:
//   "7 / 20  p107.png  0:03 elapsed, 0:03 left"   (40102; 40101 until the
//                                                 first file is done)
// The count is the files done; the file named is the one the count reaches
// next (the batch's task number `processed`), without its folder. The time left
// is the elapsed time per finished file times the files left. The line
// stays one column short of the terminal's width so that it never wraps:
// the file name is shortened from its start ("...") first. Wide (East
// Asian) characters count two columns. Control characters in file and
// folder names are written out (EscapeForTerminal).
//
// Messages shown through it first erase the line, then go to the sink it
// forwards to (which writes to the same terminal). At the end of the batch
// the summary replaces the line and ends it:
//   "20 files written to /scans/trim in 12.3 s"                (40103)
//   "3 of 20 files written to /scans/trim in 2.1 s; 1 failed"  (40104)
//   "3 of 20 files written to /scans/trim in 2.1 s; stopped"   (40105)
// With results in several folders they are "the trim folders beside their
// sources" (40106). Durations under a minute read "12.3 s", longer ones
// "m:ss". Sources left alone add "; 4 skipped" (40252), written pages that
// need a look "; 2 need a look" (40253); below the line follow the first
// ten of those pages, each with its first reason ("  /scans/p7.png: right
// edge not found: kept to the image border", 40254), and "  ... and 3 more"
// (40255) for the rest. Paths and reasons are shown with control characters
// escaped.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "batch/BatchView.h"
#include "msg/Msg.h"

namespace qv {

class CTerminalProgress : public CMsg {
  public:
    // The source of the batch's task number i ("" when unknown).
    using TaskSource = std::function<std::string_view(int)>;

    // `sink` and `out` (the terminal's stream) must outlive the object.
    CTerminalProgress(CMsg& sink, std::ostream& out, TaskSource taskSource);

    // Whether standard error is a terminal.
    static bool StandardErrorIsTerminal();

    // The batch started: the clock starts.
    void Start();
    // Redraws the line with `processed` of `total` files done; nothing
    // before Start.
    void Update(int processed, int total);
    // Erases the line, if one is drawn.
    void Clear();
    // Replaces the line with the summary and a line break, then lists up
    // to kReviewLines pages that need a look.
    void Finish(const BatchSummary& summary);
    static constexpr std::size_t kReviewLines = 10;

    int ShowError(const CSimpleErr& err) override;
    int Show(const std::string& text, std::uint32_t type) override;

  private:
    void Draw(const std::string& text, const char* end);

    CMsg& m_sink;
    std::ostream& m_out;
    TaskSource m_taskSource;
    std::uint32_t m_startTick = 0;
    bool m_started = false;
    std::size_t m_drawnColumns = 0;  // what the drawn line covers
    std::string m_drawn;
};

}  // namespace qv
