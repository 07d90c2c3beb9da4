#include "app/TerminalProgress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <ostream>
#include <string_view>

#include "batch/BatchDriver.h"
#include "batch/TickCount.h"
#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "msg/TerminalText.h"
#include "msg/Utf8.h"

namespace qv {

namespace {

bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

// The characters of a UTF-8 text as (byte offset, columns) pairs; a byte
// that starts no valid sequence is one character of one column.
std::vector<std::pair<std::size_t, std::size_t>> Characters(std::string_view text) {
    std::vector<std::pair<std::size_t, std::size_t>> characters;
    std::size_t i = 0;
    while (i < text.size()) {
        const Utf8Char character = DecodeUtf8(text, i);
        characters.emplace_back(i, character.length != 0 && IsWide(character.codePoint) ? 2 : 1);
        i += std::max<std::size_t>(character.length, 1);
    }
    return characters;
}

std::size_t Columns(std::string_view text) {
    std::size_t columns = 0;
    for (const auto& character : Characters(text)) {
        columns += character.second;
    }
    return columns;
}

// The start of text that fits in `columns` columns.
std::string KeepStart(std::string_view text, std::size_t columns) {
    std::size_t used = 0;
    for (const auto& [offset, width] : Characters(text)) {
        if (used + width > columns) {
            return std::string(text.substr(0, offset));
        }
        used += width;
    }
    return std::string(text);
}

// The end of text that fits in `columns` columns, "..." first when cut.
std::string KeepEnd(std::string_view text, std::size_t columns) {
    if (Columns(text) <= columns) {
        return std::string(text);
    }
    const auto characters = Characters(text);
    std::size_t used = 3;
    std::size_t start = text.size();
    for (auto it = characters.rbegin(); it != characters.rend() && used + it->second <= columns;
         ++it) {
        used += it->second;
        start = it->first;
    }
    return used > columns ? std::string() : "..." + std::string(text.substr(start));
}

std::string Duration(std::uint32_t elapsedMs) {
    if (elapsedMs >= 60000) {
        return FormatElapsed(elapsedMs);
    }
    return std::to_string(elapsedMs / 1000) + "." + std::to_string(elapsedMs / 100 % 10) + " s";
}

std::string_view FileName(std::string_view path) {
    return path.substr(path.find_last_of('/') + 1);
}

std::string WithoutTrailingSlash(std::string folder) {
    if (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

// One column short of the terminal's width (80 when it is not known).
std::size_t LineColumns() {
    winsize size{};
    const int columns =
        ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    return static_cast<std::size_t>(std::max(columns - 1, 1));
}

}  // namespace

CTerminalProgress::CTerminalProgress(CMsg& sink, std::ostream& out, TaskSource taskSource)
    : m_sink(sink), m_out(out), m_taskSource(std::move(taskSource)) {}

bool CTerminalProgress::StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void CTerminalProgress::Start() {
    m_startTick = GetTickCount32();
    m_started = true;
}

void CTerminalProgress::Update(int processed, int total) {
    // The view's bar is reset before the batch's checks: no line yet.
    if (total <= 0 || !m_started) {
        return;
    }
    const std::uint32_t elapsed = GetTickCount32() - m_startTick;
    const int next = std::clamp(processed, 0, total - 1);
    const std::string name = EscapeForTerminal(m_taskSource ? FileName(m_taskSource(next)) : "");
    const auto line = [&](std::string_view shownName) {
        if (processed <= 0 || processed >= total) {
            return Formatted(kMsgProgress, processed, total, shownName, FormatElapsed(elapsed));
        }
        const auto left = static_cast<std::uint32_t>(static_cast<std::uint64_t>(elapsed) *
                                                     (total - processed) / processed);
        return Formatted(kMsgProgressWithEstimate, processed, total, shownName,
                         FormatElapsed(elapsed), FormatElapsed(left));
    };
    const std::size_t columns = LineColumns();
    std::string text = line(name);
    if (Columns(text) > columns) {
        const std::size_t others = Columns(line(""));
        text = line(others < columns ? KeepEnd(name, columns - others) : "");
        text = KeepStart(text, columns);
    }
    if (text != m_drawn) {
        Draw(text, "");
    }
}

void CTerminalProgress::Clear() {
    if (m_drawnColumns != 0) {
        m_out << '\r' << std::string(m_drawnColumns, ' ') << '\r' << std::flush;
    }
    m_drawnColumns = 0;
    m_drawn.clear();
}

void CTerminalProgress::Finish(const BatchSummary& summary) {
    std::string where;
    if (summary.outputFolders.size() == 1) {
        where = EscapeForTerminal(WithoutTrailingSlash(summary.outputFolders.front()));
    } else if (!summary.outputFolders.empty()) {
        const std::string first = WithoutTrailingSlash(summary.outputFolders.front());
        where = Formatted(kMsgSummaryFolders, EscapeForTerminal(FileName(first)));
    }
    const std::string took = Duration(summary.elapsedMs);
    std::string line;
    switch (summary.end) {
        case BatchSummary::End::Completed:
            line = Formatted(kMsgSummaryWritten, summary.written, where, took);
            break;
        case BatchSummary::End::Failed:
            line = Formatted(kMsgSummaryFailed, summary.written, summary.total, where, took);
            break;
        case BatchSummary::End::Stopped:
            line = Formatted(kMsgSummaryStopped, summary.written, summary.total, where, took);
            break;
    }
    if (summary.skipped > 0) {
        line += Formatted(kMsgSummarySkipped, summary.skipped);
    }
    if (summary.reviewCount > 0) {
        line += Formatted(kMsgSummaryNeedLook, summary.reviewCount);
    }
    Draw(line, "\n");
    m_drawnColumns = 0;
    m_drawn.clear();
    const std::size_t listed = std::min(summary.review.size(), kReviewLines);
    for (std::size_t i = 0; i < listed; ++i) {
        const ReviewItem& item = summary.review[i];
        const std::string reason = item.reasons.empty() ? std::string() : item.reasons.front();
        m_out << Formatted(kMsgReviewLine, EscapeForTerminal(item.source),
                           EscapeForTerminal(reason))
              << '\n';
    }
    if (summary.reviewCount > static_cast<int>(listed)) {
        m_out << Formatted(kMsgReviewMore, summary.reviewCount - static_cast<int>(listed)) << '\n';
    }
    m_out << std::flush;
}

int CTerminalProgress::ShowError(const CSimpleErr& err) {
    Clear();
    return m_sink.ShowError(err);
}

int CTerminalProgress::Show(const std::string& text, std::uint32_t type) {
    Clear();
    return m_sink.Show(text, type);
}

void CTerminalProgress::Draw(const std::string& text, const char* end) {
    const std::size_t columns = Columns(text);
    m_out << '\r' << text;
    if (m_drawnColumns > columns) {
        m_out << std::string(m_drawnColumns - columns, ' ');
    }
    m_out << end << std::flush;
    m_drawnColumns = columns;
    m_drawn = text;
}

}  // namespace qv
