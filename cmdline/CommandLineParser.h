// qv::CCommandLineParser: the program's command line. Options overwrite fields
// of the settings record it was made for, set the run flags (hide, end, yes),
// and every other word names an image file.
//
// Running it:
// - OnArguments(arguments) with the arguments as the system hands them over
//   (argv[1..] on POSIX: already split and unquoted, never re-split);
// - Parse(text) for a whole text command line, program path first.
// Each run first clears the file list and the three flags. The arguments are
// handled in order, so later options override earlier ones. Options write
// straight into the settings record; options handled before a rejected word
// stay applied.
//
// Options (exact options are the whole word; value options are name ':'
// value with no spaces, checked by CCommandLineParserUtil::IsValueOption):
//   /hide         hide and end := true
//   /end          end := true
//   /yes          yes := true
//   /reset        only as the first argument: AppSettings::ResetToDefaults
//   /empty:path   ToFullPath(path) first in EmptyPath ("" selects no image)
//   /rotate:kw    EdgeType := RotateEdge of none auto l r t b lr rl tb bt
//   /cut:letters  SpaceType := TrimEdges of "auto" or a set of "ltrb+"
//   /deep_cut:on|off    sets / clears FlagDeepCut
//   /size:cx,cy|off     Output and FlagOutputSize, or clears the flag
//   /trim:cx,cy|off     Trim and FlagAdditionalTrim, or clears the flag
//   /out:name     name, unchanged, first in SubFolder
//   /format:f     bmp, png, tif[f], jp[e]g[,quality] (letters in any case)
//   /thread:n     ThreadCount := n (n >= 1, capped at MaxThreadCount)
// Numbers are base-10; one beyond 2147483647 reads as 2147483647. Sizes of 0
// and a JPEG quality above 100 pass here; the batch start judges them.
//
// Each option also has its GNU spelling, handled by the same handler with
// the same values and messages: --hide, --end, --yes, --reset,
// --empty=path, --rotate=kw, --cut=letters, --deep-cut=on|off,
// --size=cx,cy|off, --trim=cx,cy|off, --out=name, --format=f, --thread=n
// (see CCommandLineParserUtil). The word "--" ends the options: every word
// after it is a file, whatever it looks like. --help, -h, /?, --version and
// -V are answered before any parse (RequestOf); other words beginning with
// '-' are files as they always were.
//
// A word beginning with '/' is a file path, never an option, when its text
// before the first ':' contains a second '/' (/home/me/scan.png) or when it
// names an existing file or folder; every other word beginning with '/' is
// an option or rejected (/HIDE is unknown). Files are made absolute with
// ToFullPath, kept in order, duplicates included, not checked for existence
// and never wildcard-expanded.
//
// Rejections throw my::CException (id and formatted message) and stop the
// run at the offending word:
//   58749 (word)           a word beginning with '/' that no option takes
//   40042 (word)           /reset that is not the first argument
//   58751 (name, word)     a value option without ':' right after its name
//   58752 (name, word)     /rotate: or /cut: with an empty value
//   58753 (name, word)     a value outside the accepted set
//   58754 (word)           /cut with a repeated letter
//   58755 ("ltrb+", word)  /cut with a letter outside "ltrb+"
//   58756 (word)           /cut letters that form no keyword
// name is the option as typed ("/cut" or "--cut"), word the whole word.
#pragma once

#include <string>
#include <vector>

#include "cmdline/CommandLineParserUtil.h"
#include "cmdline/SimpleCommandLineParser.h"
#include "trim/AppSettings.h"

namespace qv {

class CCommandLineParser : public CSimpleCommandLineParser, public CCommandLineParserUtil {
  public:
    // The largest ThreadCount an option sets: a larger /thread value is
    // capped here so that no command line starts thousands of workers.
    static constexpr LONG MaxThreadCount = AppSettings::MaxStoredThreadCount;

    // The parser writes into settings, which must outlive it.
    explicit CCommandLineParser(AppSettings& settings) : m_settings(settings) {}

    void OnArguments(const std::vector<std::string>& arguments) override;

    // What a command line asks for instead of a run: the usage text
    // (--help, -h, /?) or the program's version (--version, -V). The first
    // such word before "--" decides; the other words are not looked at, so
    // a bad option next to --help does not hide the help.
    enum class Request { Run, Help, Version };
    static Request RequestOf(const std::vector<std::string>& arguments);

    // The image paths named on the command line, absolute, in order.
    const std::vector<std::string>& Files() const { return m_files; }
    bool Hide() const { return m_hide; }  // no window; implies End
    bool End() const { return m_end; }    // quit when the command-line batch is over
    bool Yes() const { return m_yes; }    // answer the overwrite question yes

  protected:
    // Whether path names an existing file or folder (the POSIX path rule);
    // CCommandLineParserUtil::PathExists unless overridden.
    virtual bool NamesExistingPath(const std::string& path) const;

  private:
    // Applies the option word is, if any (index: its 0-based place among the
    // arguments); false when it is none. A taken word with a bad value throws.
    bool TakeOption(size_t index, const std::string& word);
    // Appends ToFullPath(word) to the files; 58749 for a word beginning
    // with '/'.
    void AddFile(size_t index, const std::string& word);

    bool IsFilePathWord(const std::string& word) const;

    AppSettings& m_settings;
    std::vector<std::string> m_files;
    bool m_hide = false;
    bool m_end = false;
    bool m_yes = false;
};

}  // namespace qv
